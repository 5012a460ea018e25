#pragma once

#include <map>
#include <set>
#include <string>

namespace quorvel {

// The alerts whose delivery or acknowledgement has not finished yet, with how
// many of each are under way. A poll that finds one of them still listed
// leaves it alone instead of showing it a second time. Used on the main
// thread only.
class DeliveriesUnderWay {
public:
    void begin(const std::string& id) { ++counts[id]; }

    // Ends one delivery of the id; an id that was not begun is ignored.
    void end(const std::string& id) {
        const auto entry = counts.find(id);
        if (entry != counts.end() && --entry->second == 0) {
            counts.erase(entry);
        }
    }

    std::set<std::string> ids() const {
        std::set<std::string> found;
        for (const auto& entry : counts) {
            found.insert(entry.first);
        }
        return found;
    }

private:
    std::map<std::string, int> counts;
};

} // namespace quorvel
