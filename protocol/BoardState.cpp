#include "protocol/BoardState.h"

namespace evb {

BoardState gBoard;

} // namespace evb
