#include "reports/ChartData.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <map>
#include <numeric>

#include "engine/MetadataStore.h"
#include "engine/Settings.h"

namespace vorel {

std::string_view rawText(SortKey k) {
    switch (k) {
        case SortKey::start: return "Start time";
        case SortKey::name: return "Name";
        case SortKey::cost: return "Cost";
    }
    return {};
}

std::string_view rawText(GroupBy g) { return g == GroupBy::tag ? "Tag" : "None"; }

GroupBy initialGroupBy() {
    return Settings::current().chartGroupByTag ? GroupBy::tag : GroupBy::none;
}

std::vector<const SessionRow*> chartRows(const std::vector<SessionRow>& allRows, const ChartOptions& options,
                                         TimePoint now) {
    // The same window as reportRows, without copying the rows.
    auto span = reportBounds(options.range, options.customStart, options.customEnd, now);
    std::vector<const SessionRow*> out;
    out.reserve(allRows.size());
    for (const SessionRow& r : allRows) {
        if (!span || span->contains(r.lastActivity)) out.push_back(&r);
    }
    return out;
}

std::vector<BarItem> flatItems(const std::vector<const SessionRow*>& rows, const MetadataStore& meta, SortKey sort,
                               SortDirection direction) {
    std::vector<BarItem> bars;
    bars.reserve(rows.size());
    for (const SessionRow* r : rows) {
        bars.push_back(BarItem{r->id, r->id, meta.topic(r->id, r->title), 1, r->total, r->today});
    }

    // Sorted as indices, so the keys are worked out once per bar.
    std::vector<size_t> order(bars.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const bool desc = direction == SortDirection::descending;
    switch (sort) {
        case SortKey::start:
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return desc ? rows[a]->startTime > rows[b]->startTime : rows[a]->startTime < rows[b]->startTime;
            });
            break;
        case SortKey::cost:
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return desc ? bars[a].value > bars[b].value : bars[a].value < bars[b].value;
            });
            break;
        case SortKey::name: {
            QCollator collator{QLocale()};
            collator.setCaseSensitivity(Qt::CaseInsensitive);
            collator.setNumericMode(false);
            // The C locale's collation compares bytes and ignores the case
            // setting; there, the keys are folded first so that names that
            // differ only in case still compare equal.
            const bool folds = QLocale().language() == QLocale::C;
            std::vector<QCollatorSortKey> keys;
            keys.reserve(bars.size());
            for (const BarItem& b : bars) {
                const QString topic = QString::fromStdString(b.topic);
                keys.push_back(collator.sortKey(folds ? topic.toCaseFolded() : topic));
            }
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                int c = keys[a].compare(keys[b]);
                return desc ? c > 0 : c < 0;
            });
            break;
        }
    }

    std::vector<BarItem> sorted;
    sorted.reserve(bars.size());
    for (size_t i : order) sorted.push_back(std::move(bars[i]));
    return sorted;
}

std::vector<TagGroup> tagGroups(const std::vector<const SessionRow*>& rows, const MetadataStore& meta,
                                SortDirection direction) {
    // Keyed by exact tag text; the map's byte order is the order of groups
    // whose totals are equal.
    std::map<std::string, std::vector<BarItem>, std::less<>> byTag;
    std::vector<std::string> tags;
    for (const SessionRow* r : rows) {
        tags.clear();
        std::vector<std::string> stored = meta.tags(r->id);
        for (std::string& t : stored) {
            // A tag listed twice would give two bars with one id and count
            // the conversation's cost twice in the split.
            if (std::find(tags.begin(), tags.end(), t) == tags.end()) tags.push_back(std::move(t));
        }
        if (tags.empty()) tags.emplace_back(kUntagged);
        const int n = static_cast<int>(tags.size());
        const std::string topic = meta.topic(r->id, r->title);
        for (const std::string& t : tags) {
            byTag[t].push_back(BarItem{t + "|" + r->id, r->id, topic, n, r->total / n, r->today / n});
        }
    }

    const bool desc = direction == SortDirection::descending;
    std::vector<TagGroup> groups;
    groups.reserve(byTag.size());
    for (auto& [tag, bars] : byTag) {
        TagGroup g{tag, 0.0, std::move(bars)};
        for (const BarItem& b : g.bars) g.total += b.value;
        std::stable_sort(g.bars.begin(), g.bars.end(), [desc](const BarItem& a, const BarItem& b) {
            return desc ? a.value > b.value : a.value < b.value;
        });
        groups.push_back(std::move(g));
    }
    std::stable_sort(groups.begin(), groups.end(), [desc](const TagGroup& a, const TagGroup& b) {
        return desc ? a.total > b.total : a.total < b.total;
    });
    return groups;
}

namespace {

double scale(double largest) { return largest > kMinScale ? largest : kMinScale; }

}  // namespace

double globalMax(const std::vector<BarItem>& bars) {
    double largest = 0;
    for (const BarItem& b : bars) largest = std::max(largest, b.value);
    return scale(largest);
}

double globalMax(const std::vector<TagGroup>& groups) {
    double largest = 0;
    for (const TagGroup& g : groups)
        for (const BarItem& b : g.bars) largest = std::max(largest, b.value);
    return scale(largest);
}

ChartContent chartContent(const std::vector<SessionRow>& allRows, const MetadataStore& meta,
                          const ChartOptions& options, TimePoint now) {
    ChartContent c;
    std::vector<const SessionRow*> rows = chartRows(allRows, options, now);
    c.rowCount = rows.size();
    if (options.groupBy == GroupBy::tag) {
        c.groups = tagGroups(rows, meta, options.direction);
        c.globalMax = globalMax(c.groups);
    } else {
        c.flat = flatItems(rows, meta, options.sort, options.direction);
        c.globalMax = globalMax(c.flat);
    }
    return c;
}

}  // namespace vorel
