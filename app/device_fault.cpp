// The app's devices' last errors, by device.
#include "device_fault.h"

#include <map>
#include <mutex>

namespace app {

namespace {

struct Faults {
  std::mutex lock;
  std::map<pappl_device_t *, std::string> byDevice;
};

Faults &faults() {
  static Faults f;
  return f;
}

}  // namespace

void reportDeviceFault(pappl_device_t *device, const std::string &message) {
  papplDeviceError(device, "%s", message.c_str());
  Faults &f = faults();
  std::lock_guard<std::mutex> guard(f.lock);
  f.byDevice[device] = message;
}

std::string deviceFault(pappl_device_t *device) {
  Faults &f = faults();
  std::lock_guard<std::mutex> guard(f.lock);
  auto found = f.byDevice.find(device);
  return found == f.byDevice.end() ? std::string() : found->second;
}

void forgetDeviceFault(pappl_device_t *device) {
  Faults &f = faults();
  std::lock_guard<std::mutex> guard(f.lock);
  f.byDevice.erase(device);
}

}  // namespace app
