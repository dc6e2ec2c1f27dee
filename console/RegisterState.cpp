#include "console/RegisterState.h"

namespace evb {

RegisterState gRegs;

} // namespace evb
