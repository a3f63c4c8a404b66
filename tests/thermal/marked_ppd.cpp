// Writes a test PPD (the shared generator) to a temporary file, opens it and marks it.
#include "marked_ppd.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/test_ppd.h"

MarkedPpd::MarkedPpd(int modelNumber, const std::string &modelName,
                     const std::vector<MarkedOption> &options) {
  ppdtest::TestPpd spec;
  spec.modelNumber = modelNumber;
  spec.modelName = modelName;
  for (const MarkedOption &o : options)
    spec.options.push_back({o.keyword, {o.choice}, o.marked ? o.choice : "Unlisted"});
  char path[] = "/tmp/thermal_test_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  if (fd < 0) return;
  close(fd);
  EXPECT_TRUE(ppdtest::writeTestPpd(path, spec));
  ppd_ = ppdOpenFile(path);
  unlink(path);
  EXPECT_NE(ppd_, nullptr) << ppdtest::ppdText(spec);
  if (ppd_) ppdMarkDefaults(ppd_);
}

MarkedPpd::~MarkedPpd() {
  if (ppd_) ppdClose(ppd_);
}
