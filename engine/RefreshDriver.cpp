#include "engine/RefreshDriver.h"

#include "engine/CostModel.h"

namespace vorel {

void RefreshDriver::tick() {
    if (running_) return;
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};
    model_.refresh();
    ++passes_;
}

}  // namespace vorel
