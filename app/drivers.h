// The app's drivers: one per PPD the program carries, named after the PPD file.
#pragma once

#include <pappl/pappl.h>

#include <vector>

#include "printer_model.h"

namespace app {

// Every driver's model, read from the embedded PPDs once.
const std::vector<PrinterModel> &printerModels();
// The list PAPPL offers ("drivers", the web page's driver menu).
std::vector<pappl_pr_driver_t> driverList();

// PAPPL's driver callback: the driver data of a new printer.
bool driverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri,
                    const char *deviceId, pappl_pr_driver_data_t *data, ipp_t **attrs,
                    void *context);
// PAPPL's auto-add callback: the driver for a device whose IEEE 1284 model is a PPD's ModelName.
const char *autoAddDriver(const char *deviceInfo, const char *deviceUri, const char *deviceId,
                          void *context);

}  // namespace app
