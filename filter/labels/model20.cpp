// Model 20: each row as its packed bits inverted (a printed dot is a 0 bit), with no command
// before it; the page ends with "PRINT 1,1".
#include "labels/label_private.h"

void model20OutputLine(JobBase &job, unsigned char *row, size_t n) {
  for (size_t i = 0; i < n; i++) row[i] = static_cast<unsigned char>(~row[i]);
  job.prn.write(row, n);
  job.prn.flush();
}
