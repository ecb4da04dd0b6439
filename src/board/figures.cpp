#include "board/figures.h"

#include <map>
#include <mutex>

namespace hdext::board {
namespace {

struct Sheets {
    std::mutex lock;
    std::map<std::string, std::string, std::less<>> sheet[2];
};

Sheets& sheets() {
    static auto* s = new Sheets; // detached threads may still set figures while the process exits
    return *s;
}

int index(FigureSheet sheet) { return sheet == FigureSheet::capture ? 0 : 1; }

} // namespace

void set_figure(FigureSheet sheet, std::string_view key, std::string_view text) {
    Sheets& s = sheets();
    std::lock_guard<std::mutex> g(s.lock);
    auto& m = s.sheet[index(sheet)];
    auto it = m.find(key);
    if (it != m.end()) it->second.assign(text);
    else m.emplace(std::string(key), std::string(text));
}

void set_figure(FigureSheet sheet, std::string_view key, int64_t value) {
    set_figure(sheet, key, std::string_view(std::to_string(value)));
}

void clear_figures(FigureSheet sheet, std::string_view prefix) {
    Sheets& s = sheets();
    std::lock_guard<std::mutex> g(s.lock);
    auto& m = s.sheet[index(sheet)];
    for (auto it = m.lower_bound(prefix); it != m.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
        it = m.erase(it);
}

std::string figure_lines(FigureSheet sheet) {
    Sheets& s = sheets();
    std::lock_guard<std::mutex> g(s.lock);
    std::string out;
    for (const auto& [key, value] : s.sheet[index(sheet)]) {
        out += key;
        out += '=';
        out += value;
        out += '\n';
    }
    return out;
}

} // namespace hdext::board
