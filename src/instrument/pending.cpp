// TEMPORARY stand-ins while the concerns are being written. Whoever implements one of these in
// its own file removes it here. This file goes away when it is empty.
#include "instrument/vmx16.h"

namespace vm316 {

}  // namespace vm316
