#include "tools/doctor.h"

#include <ostream>

namespace quillmote {

int runDoctor(const DoctorOptions&, std::ostream&, std::ostream& err) {
  err << "quillmote-cli doctor: not written yet\n";
  return 1;
}

}  // namespace quillmote
