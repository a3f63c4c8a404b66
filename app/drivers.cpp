// The drivers from the embedded PPDs, and the callbacks that hand them to PAPPL.
#include "drivers.h"

#include <string>

#include "device_policy.h"
#include "pdf_job.h"
#include "ppd_catalog.h"
#include "raster_job.h"

namespace app {

namespace {

const PrinterModel *findModel(const char *driver) {
  for (const PrinterModel &model : printerModels())
    if (driver && model.driver == driver) return &model;
  return nullptr;
}

}  // namespace

const std::vector<PrinterModel> &printerModels() {
  static const std::vector<PrinterModel> models = [] {
    std::vector<PrinterModel> all;
    for (size_t i = 0; i < kEmbeddedPpdCount; i++) {
      if (PpdFile ppd = openEmbeddedPpd(kEmbeddedPpds[i].name))
        all.push_back(describePpd(ppd.get(), kEmbeddedPpds[i].name));
    }
    return all;
  }();
  return models;
}

std::vector<pappl_pr_driver_t> driverList() {
  std::vector<pappl_pr_driver_t> drivers;
  for (const PrinterModel &model : printerModels())
    drivers.push_back({model.driver.c_str(), model.makeAndModel.c_str(), nullptr, nullptr});
  return drivers;
}

bool driverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri,
                    const char *, pappl_pr_driver_data_t *data, ipp_t **attrs, void *) {
  const PrinterModel *model = findModel(driverName);
  if (!model) return false;
  std::string reason;
  if (deviceUri && !deviceUriAllowed(deviceUri, reason)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Device URI '%s' refused: %s.", deviceUri,
             reason.c_str());
    return false;
  }
  fillDriverData(*model, *data, *attrs);
  setRasterCallbacks(*data);
  setUnknownDocumentCallback(*data);
  data->extension = const_cast<PrinterModel *>(model);  // read only
  return true;
}

const char *autoAddDriver(const char *, const char *, const char *deviceId, void *) {
  cups_option_t *pairs = nullptr;
  const int count = papplDeviceParseID(deviceId, &pairs);
  const char *mdl = cupsGetOption("MODEL", count, pairs);
  if (!mdl) mdl = cupsGetOption("MDL", count, pairs);
  const char *driver = nullptr;
  for (const PrinterModel &model : printerModels())
    if (mdl && model.modelName == mdl) driver = model.driver.c_str();
  cupsFreeOptions(count, pairs);
  return driver;
}

}  // namespace app
