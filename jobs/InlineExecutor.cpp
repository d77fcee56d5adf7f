#include "InlineExecutor.h"

namespace jobs {

void InlineExecutor::abandon(const void* owner, bool) {
    for (auto it = queue_.begin(); it != queue_.end();)
        it = it->owner == owner ? queue_.erase(it) : it + 1;
}

bool InlineExecutor::deliverNext() {
    if (queue_.empty())
        return false;
    Item item = std::move(queue_.front());
    queue_.pop_front();
    WorkControls controls;
    controls.cancel = &cancel_;
    WorkResult result = item.run(controls);
    if (item.done)
        item.done(std::move(result));
    return true;
}

} // namespace jobs
