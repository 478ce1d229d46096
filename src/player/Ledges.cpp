#include "player/Ledges.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// The columns cut into spans where windows begin and end; for every span, which windows
// reaching the swept row cover it, by their places in the stack. A window's place is kept in
// the few nodes that make up its columns, each node a heap whose top is the highest window
// there; a window that leaves is taken off the tops lazily. Each node also knows, over its
// spans, the lowest and the highest "highest cover" (counting the nodes above it), so a
// question about an edge skips whole runs that are wholly covered or wholly open: work
// follows the pieces found, not the windows around them. The heaps share one array, each
// node's as long as the windows it will hold: a question asked twenty times a second makes
// no heap allocation per window.
class TCoverTree {
public:
    // `columns`: each window's first and last span, or none.
    TCoverTree(int spans, const std::vector<std::pair<int, int>>& columns, const std::vector<char>& present)
        : present_(present)
    {
        while (leaves_ < spans)
            leaves_ *= 2;
        nodes_.resize(2 * static_cast<std::size_t>(leaves_));
        for (const auto& [from, to] : columns) {
            if (from <= to)
                Visit(from, to, [this](std::size_t node) { ++nodes_[node].start; });
        }
        int start = 0;
        for (TNode& node : nodes_)
            start += std::exchange(node.start, start);
        slots_.resize(static_cast<std::size_t>(start));
    }

    void Add(int from, int to, int window) { Update(from, to, window); }
    // After the window is marked absent.
    void Remove(int from, int to) { Update(from, to, -1); }

    // Calls open(first, last) for the runs of spans from..to that no window above `window`
    // covers, left to right; stops when it returns false.
    template <typename Open>
    bool Find(int from, int to, int window, Open&& open) const
    {
        return Find(1, 0, leaves_ - 1, from, to, window, -1, open);
    }

private:
    // The nodes that together make up spans from..to, each once.
    template <typename Each>
    void Visit(int from, int to, Each&& each) const
    {
        for (auto low = static_cast<std::size_t>(from + leaves_), high = static_cast<std::size_t>(to + leaves_) + 1; low < high;
             low /= 2, high /= 2) {
            if (low & 1)
                each(low++);
            if (high & 1)
                each(--high);
        }
    }

    int Top(std::size_t node) const { return nodes_[node].size == 0 ? -1 : slots_[static_cast<std::size_t>(nodes_[node].start)]; }

    void Pull(std::size_t node)
    {
        TNode& n = nodes_[node];
        const int own = Top(node);
        if (node >= static_cast<std::size_t>(leaves_)) {
            n.least = n.most = own;
        } else {
            n.least = std::max(own, std::min(nodes_[2 * node].least, nodes_[2 * node + 1].least));
            n.most = std::max(own, std::max(nodes_[2 * node].most, nodes_[2 * node + 1].most));
        }
    }

    void Update(int from, int to, int window)
    {
        Visit(from, to, [&](std::size_t node) {
            const auto heap = slots_.begin() + nodes_[node].start;
            int& size = nodes_[node].size;
            if (window >= 0) {
                heap[size++] = window;
                std::push_heap(heap, heap + size);
            }
            while (size > 0 && !present_[static_cast<std::size_t>(heap[0])])
                std::pop_heap(heap, heap + size--);
            Pull(node);
        });
        // The nodes changed hang below the paths from the two end spans up.
        for (std::size_t node = static_cast<std::size_t>(from + leaves_) / 2; node > 0; node /= 2)
            Pull(node);
        for (std::size_t node = static_cast<std::size_t>(to + leaves_) / 2; node > 0; node /= 2)
            Pull(node);
    }

    template <typename Open>
    bool Find(std::size_t node, int low, int high, int from, int to, int window, int above, Open& open) const
    {
        if (high < from || low > to || std::max(above, nodes_[node].least) > window)
            return true;
        if (from <= low && high <= to && std::max(above, nodes_[node].most) <= window)
            return open(low, high);
        // Not a single span here (one span is wholly covered or wholly open).
        const int middle = low + (high - low) / 2;
        const int cover = std::max(above, Top(node));
        return Find(2 * node, low, middle, from, to, window, cover, open) &&
               Find(2 * node + 1, middle + 1, high, from, to, window, cover, open);
    }

    struct TNode {
        int start = 0;  // where its heap begins in slots_
        int size = 0;
        int least = -1, most = -1;
    };
    int leaves_ = 1;  // spans, and empty ones to a power of two
    std::vector<TNode> nodes_;  // node n's halves are 2n and 2n + 1; the leaves from leaves_ on
    std::vector<int> slots_;
    const std::vector<char>& present_;
};

}  // namespace

QList<TLedge> VisibleTops(const QList<QRect>& windows)
{
    // Rows are swept from the screen's top down: a window is present from its top row to its
    // bottom one, and on each row where windows begin, their edges are asked of the present
    // ones.
    std::vector<int> shown;
    std::vector<std::int64_t> cuts;
    for (qsizetype i = 0; i < windows.size(); ++i) {
        if (windows[i].isEmpty())
            continue;
        shown.push_back(static_cast<int>(i));
        cuts.push_back(windows[i].left());
        cuts.push_back(std::int64_t{windows[i].right()} + 1);
    }
    if (shown.empty())
        return {};
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    const auto span = [&cuts](std::int64_t x) { return static_cast<int>(std::lower_bound(cuts.begin(), cuts.end(), x) - cuts.begin()); };
    const auto at = [&windows](int i) -> const QRect& { return windows[i]; };
    // Each window's first and last span; none for an empty one.
    std::vector<std::pair<int, int>> columns(static_cast<std::size_t>(windows.size()), {0, -1});
    for (const int i : shown)
        columns[static_cast<std::size_t>(i)] = {span(at(i).left()), span(std::int64_t{at(i).right()} + 1) - 1};
    std::vector<int> byTop = shown, byBottom = shown;
    // On one row, the highest window first: it is seen first.
    std::sort(byTop.begin(), byTop.end(), [&](int a, int b) { return std::tuple(at(a).top(), -a) < std::tuple(at(b).top(), -b); });
    std::sort(byBottom.begin(), byBottom.end(), [&](int a, int b) { return at(a).bottom() < at(b).bottom(); });

    std::vector<char> present(static_cast<std::size_t>(windows.size()), 0);
    TCoverTree tree(static_cast<int>(cuts.size()) - 1, columns, present);
    struct TPiece {
        int Window, First, Last;  // spans
    };
    std::vector<TPiece> pieces;
    std::size_t added = 0, removed = 0;
    for (std::size_t next = 0; next < byTop.size() && pieces.size() < static_cast<std::size_t>(kMostLedges);) {
        const int row = at(byTop[next]).top();
        for (; removed < byBottom.size() && at(byBottom[removed]).bottom() < row; ++removed) {
            const auto gone = static_cast<std::size_t>(byBottom[removed]);
            present[gone] = 0;
            tree.Remove(columns[gone].first, columns[gone].second);
        }
        for (; added < byTop.size() && at(byTop[added]).top() <= row; ++added) {
            const auto come = static_cast<std::size_t>(byTop[added]);
            present[come] = 1;
            tree.Add(columns[come].first, columns[come].second, byTop[added]);
        }
        for (; next < added && pieces.size() < static_cast<std::size_t>(kMostLedges); ++next) {
            const int window = byTop[next];
            bool open = false;  // a piece of this edge is being found
            const auto& [from, to] = columns[static_cast<std::size_t>(window)];
            tree.Find(from, to, window, [&](int first, int last) {
                // Runs found side by side are one piece.
                if (open && pieces.back().Last + 1 == first) {
                    pieces.back().Last = last;
                    return true;
                }
                if (pieces.size() == static_cast<std::size_t>(kMostLedges))
                    return false;
                pieces.push_back({window, first, last});
                open = true;
                return true;
            });
        }
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const TPiece& a, const TPiece& b) { return std::tie(a.Window, a.First) < std::tie(b.Window, b.First); });
    QList<TLedge> ledges;
    ledges.reserve(static_cast<qsizetype>(pieces.size()));
    for (const TPiece& piece : pieces)
        ledges.append({at(piece.Window).top(), static_cast<int>(cuts[static_cast<std::size_t>(piece.First)]),
                       static_cast<int>(cuts[static_cast<std::size_t>(piece.Last) + 1] - 1)});
    return ledges;
}
