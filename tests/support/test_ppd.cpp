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

// The A4, Letter, A5 and RX5_A4 sizes.
std::vector<PageSizeDef> standardPageSizes() {
  return {{"A4", 595, 842}, {"Letter", 612, 792}, {"A5", 420, 595}, {"RX5_A4", 595, 842}};
}

}  // namespace

std::string ppdText(const TestPpd &p) {
  const std::vector<PageSizeDef> sizes = p.pageSizes.empty() ? standardPageSizes() : p.pageSizes;
  const std::string dpi = std::to_string(p.dpi), name = p.modelName;
  std::string t =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"RX5KTEST.PPD\"\n*Manufacturer: \"RX5K\"\n*Product: \"(" +
      name + ")\"\n*ModelName: \"" + name + "\"\n*ShortNickName: \"" + name + "\"\n*NickName: \"" +
      name + " test\"\n";
  t += "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
       "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n"
       "*LandscapeOrientation: Plus90\n*TTRasterizer: Type42\n*cupsVersion: 2.4\n"
       "*cupsModelNumber: " +
       std::to_string(p.modelNumber) +
       "\n*cupsManualCopies: True\n"
       "*cupsFilter: \"application/vnd.cups-raster 0 rastertoRX5K\"\n";
  // A PickOne option: "Keyword/Text", its order, its default and its choice lines.
  auto option = [&t](const std::string &ui, const std::string &order,
                     const std::string &defaultChoice, const std::string &choices) {
    const std::string keyword = ui.substr(0, ui.find('/'));
    t += "*OpenUI *" + ui + ": PickOne\n*OrderDependency: " + order + " AnySetup *" + keyword +
         "\n*Default" + keyword + ": " + defaultChoice + "\n" + choices + "*CloseUI: *" + keyword +
         "\n";
  };
  std::string pageSizes, regions, areas, dimensions;
  for (const PageSizeDef &s : sizes) {
    const std::string w = number(s.width), h = number(s.height);
    const std::string code =
        s.name + ": \"<</PageSize[" + w + " " + h + "]/ImagingBBox null>>setpagedevice\"\n";
    pageSizes += "*PageSize " + code;
    regions += "*PageRegion " + code;
    areas += "*ImageableArea " + s.name + ": \"0 0 " + w + " " + h + "\"\n";
    dimensions += "*PaperDimension " + s.name + ": \"" + w + " " + h + "\"\n";
  }
  option("PageSize/Media Size", "10", p.defaultPageSize, pageSizes);
  option("PageRegion", "10", p.defaultPageSize, regions);
  t += "*DefaultImageableArea: " + p.defaultPageSize + "\n" + areas +
       "*DefaultPaperDimension: " + p.defaultPageSize + "\n" + dimensions;
  option(
      "Resolution/Resolution", "10", dpi + "dpi",
      "*Resolution " + dpi + "dpi: \"<</HWResolution[" + dpi + " " + dpi + "]>>setpagedevice\"\n");
  option("ColorModel/Color Mode", "10", p.defaultColorModel,
         "*ColorModel RGB/Color: \"<</cupsColorOrder 0/cupsColorSpace 1/cupsBitsPerColor "
         "8>>setpagedevice\"\n*ColorModel Gray/Grayscale: \"<</cupsColorOrder 0/cupsColorSpace "
         "18/cupsBitsPerColor 8>>setpagedevice\"\n");
  for (const PpdOption &o : p.options) {
    std::string choices;
    for (const std::string &c : o.choices)
      choices += "*" + o.keyword + " " + c + "/" + c + ": \"\"\n";
    option(o.keyword + "/" + o.keyword, "20", o.defaultChoice, choices);
  }
  return t + p.extraLines +
         "*DefaultFont: Courier\n*Font Courier: Standard \"(002.004S)\" Standard ROM\n";
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
