#include "engine/SessionRow.h"

#include <algorithm>

namespace vorel {

bool SessionRow::hasEstimated() const {
    return std::any_of(models.begin(), models.end(), [](const ModelLine& m) { return m.estimated; });
}

std::string SessionRow::primaryModel() const {
    const ModelLine* best = nullptr;
    for (const ModelLine& m : models) {
        if (!best || m.cost > best->cost) best = &m;
    }
    return best ? best->name : std::string{};
}

bool SessionRow::isLive(TimePoint now) const { return now - lastActivity < std::chrono::seconds(60); }

std::string modelDisplayName(std::string_view id) {
    std::string out;
    out.reserve(id.size());
    for (size_t i = 0; i < id.size();) {
        if (id.substr(i).starts_with("claude-")) {
            i += 7;
        } else {
            out += id[i] == '-' ? ' ' : id[i];
            ++i;
        }
    }
    return out;
}

}  // namespace vorel
