// Device errors a job reads back. PAPPL hands a device's error message only to the log callback
// of whoever opened it, so the app's own device schemes also keep their last error here: the
// job aborts with it as its message.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace app {

// Logs message as the device's error (papplDeviceError) and keeps it as its fault.
void reportDeviceFault(pappl_device_t *device, const std::string &message);
// The device's fault since it was opened, or empty.
std::string deviceFault(pappl_device_t *device);
// The device is closed: its fault goes.
void forgetDeviceFault(pappl_device_t *device);

}  // namespace app
