#include "platform/LoopHandoff.h"

namespace platform {

LoopHandoff::LoopHandoff(EventLoop& loop) : loop_(loop) {}

LoopHandoff::~LoopHandoff() { retire(); }

}  // namespace platform
