// PPD text for tests: the keywords every PPD needs, then the page sizes, the colour model and
// the test's own options as PickOne groups.
#include "support/test_ppd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "support/run_filter.h"

namespace ppdtest {

namespace {

std::string number(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%g", v);
  return s;
}

}  // namespace

std::vector<PageSizeDef> standardPageSizes() {
  return {{"A4", 595, 842}, {"Letter", 612, 792}, {"A5", 420, 595}, {"RX5_A4", 595, 842}};
}

std::string ppdText(const TestPpd &p) {
  std::vector<PageSizeDef> sizes = p.pageSizes.empty() ? standardPageSizes() : p.pageSizes;
  std::string dpi = std::to_string(p.dpi);
  std::string t;
  t += "*PPD-Adobe: \"4.3\"\n";
  t += "*FormatVersion: \"4.3\"\n";
  t += "*FileVersion: \"1.0\"\n";
  t += "*LanguageVersion: English\n";
  t += "*LanguageEncoding: ISOLatin1\n";
  t += "*PCFileName: \"RX5KTEST.PPD\"\n";
  t += "*Manufacturer: \"RX5K\"\n";
  t += "*Product: \"(" + p.modelName + ")\"\n";
  t += "*ModelName: \"" + p.modelName + "\"\n";
  t += "*ShortNickName: \"" + p.modelName + "\"\n";
  t += "*NickName: \"" + p.modelName + " test\"\n";
  t += "*PSVersion: \"(3010.000) 0\"\n";
  t += "*LanguageLevel: \"3\"\n";
  t += "*ColorDevice: False\n";
  t += "*DefaultColorSpace: Gray\n";
  t += "*FileSystem: False\n";
  t += "*Throughput: \"1\"\n";
  t += "*LandscapeOrientation: Plus90\n";
  t += "*TTRasterizer: Type42\n";
  t += "*cupsVersion: 2.4\n";
  t += "*cupsModelNumber: " + std::to_string(p.modelNumber) + "\n";
  t += "*cupsManualCopies: True\n";
  t += "*cupsFilter: \"application/vnd.cups-raster 0 rastertoRX5K\"\n";

  t += "*OpenUI *PageSize/Media Size: PickOne\n";
  t += "*OrderDependency: 10 AnySetup *PageSize\n";
  t += "*DefaultPageSize: " + p.defaultPageSize + "\n";
  for (const PageSizeDef &s : sizes) {
    t += "*PageSize " + s.name + ": \"<</PageSize[" + number(s.width) + " " + number(s.height) +
         "]/ImagingBBox null>>setpagedevice\"\n";
  }
  t += "*CloseUI: *PageSize\n";
  t += "*OpenUI *PageRegion: PickOne\n";
  t += "*OrderDependency: 10 AnySetup *PageRegion\n";
  t += "*DefaultPageRegion: " + p.defaultPageSize + "\n";
  for (const PageSizeDef &s : sizes) {
    t += "*PageRegion " + s.name + ": \"<</PageSize[" + number(s.width) + " " + number(s.height) +
         "]/ImagingBBox null>>setpagedevice\"\n";
  }
  t += "*CloseUI: *PageRegion\n";
  t += "*DefaultImageableArea: " + p.defaultPageSize + "\n";
  for (const PageSizeDef &s : sizes) {
    t +=
        "*ImageableArea " + s.name + ": \"0 0 " + number(s.width) + " " + number(s.height) + "\"\n";
  }
  t += "*DefaultPaperDimension: " + p.defaultPageSize + "\n";
  for (const PageSizeDef &s : sizes) {
    t += "*PaperDimension " + s.name + ": \"" + number(s.width) + " " + number(s.height) + "\"\n";
  }

  t += "*OpenUI *Resolution/Resolution: PickOne\n";
  t += "*OrderDependency: 10 AnySetup *Resolution\n";
  t += "*DefaultResolution: " + dpi + "dpi\n";
  t += "*Resolution " + dpi + "dpi: \"<</HWResolution[" + dpi + " " + dpi + "]>>setpagedevice\"\n";
  t += "*CloseUI: *Resolution\n";

  t += "*OpenUI *ColorModel/Color Mode: PickOne\n";
  t += "*OrderDependency: 10 AnySetup *ColorModel\n";
  t += "*DefaultColorModel: " + p.defaultColorModel + "\n";
  t += "*ColorModel RGB/Color: \"<</cupsColorOrder 0/cupsColorSpace 1/cupsBitsPerColor "
       "8>>setpagedevice\"\n";
  t += "*ColorModel Gray/Grayscale: \"<</cupsColorOrder 0/cupsColorSpace 18/cupsBitsPerColor "
       "8>>setpagedevice\"\n";
  t += "*CloseUI: *ColorModel\n";

  for (const PpdOption &o : p.options) {
    t += "*OpenUI *" + o.keyword + "/" + o.keyword + ": PickOne\n";
    t += "*OrderDependency: 20 AnySetup *" + o.keyword + "\n";
    t += "*Default" + o.keyword + ": " + o.defaultChoice + "\n";
    for (const std::string &c : o.choices) {
      t += "*" + o.keyword + " " + c + "/" + c + ": \"\"\n";
    }
    t += "*CloseUI: *" + o.keyword + "\n";
  }
  t += p.extraLines;
  t += "*DefaultFont: Courier\n";
  t += "*Font Courier: Standard \"(002.004S)\" Standard ROM\n";
  return t;
}

bool writeTestPpd(const std::string &path, const TestPpd &ppd) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << ppdText(ppd);
  return static_cast<bool>(out.flush());
}

std::string modelPpd(int model) {
  TestPpd ppd;
  ppd.modelNumber = model;
  std::string path = runtest::testFilePath("model" + std::to_string(model) + ".ppd");
  EXPECT_TRUE(writeTestPpd(path, ppd)) << path;
  return path;
}

}  // namespace ppdtest
