#include "protocol/BoardState.h"

#include "protocol/BoardSession.h"

#include <stdexcept>

namespace evb {

BoardState& Board() {
    BoardSession* session = CurrentSession();
    if (!session) throw std::logic_error("no board session on this thread");
    return session->Board();
}

} // namespace evb
