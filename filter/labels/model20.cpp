// Model 20: each row as its packed bits inverted (a printed dot is a 0 bit), with no command
// before it; the page ends with "PRINT 1,1".
#include "labels/label_private.h"

namespace {

class RowsPrinter final : public LabelPrinter {
 public:
  using LabelPrinter::LabelPrinter;

 private:
  void codeRow(unsigned char *row, size_t n, int y) override;
  void pageEnd(Page &) override { writeText(job, "\nPRINT 1,1\n"); }
};

}  // namespace

void RowsPrinter::codeRow(unsigned char *row, size_t n, int) {
  for (size_t i = 0; i < n; i++) row[i] = static_cast<unsigned char>(~row[i]);
  job.prn.write(row, n);
  job.prn.flush();
}

std::unique_ptr<PrinterLanguage> makeRowsPrinter(JobBase &job) {
  return std::make_unique<RowsPrinter>(job);
}
