#include "ini_text.h"

#include <vector>

namespace quillomir::linux_host {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// One line without its "\n"; `end` is where the next line starts.
struct Line {
    std::string_view text;
    std::size_t begin;
    std::size_t end;
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto newline = text.find('\n', begin);
        const std::size_t stop = newline == std::string_view::npos ? text.size() : newline;
        const std::size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
        lines.push_back({text.substr(begin, stop - begin), begin, next});
        begin = next;
    }
    return lines;
}

// The section that a "[Name]" line opens, or empty for any other line.
std::optional<std::string_view> SectionHeader(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
        return std::nullopt;
    }
    return Trim(line.substr(1, line.size() - 2));
}

bool IsComment(std::string_view line) {
    line = Trim(line);
    return line.empty() || line.front() == '#' || line.front() == ';';
}

// The key and value of a "key=value" line.
std::optional<std::pair<std::string_view, std::string_view>> Entry(std::string_view line) {
    if (IsComment(line)) {
        return std::nullopt;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return std::pair{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

// Where the key's lines are, and where a new line of the section would go.
struct Places {
    std::vector<Line> keyLines;
    bool sectionFound = false;
    std::size_t sectionEnd = 0;  // after the section's last non-blank line
};

Places Locate(std::string_view text, std::string_view section, std::string_view key) {
    Places places;
    bool inSection = false;
    for (const Line& line : SplitLines(text)) {
        if (const auto header = SectionHeader(line.text)) {
            inSection = *header == section;
            if (inSection && !places.sectionFound) {
                places.sectionFound = true;
                places.sectionEnd = line.end;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (!Trim(line.text).empty()) {
            places.sectionEnd = line.end;
        }
        const auto entry = Entry(line.text);
        if (entry && entry->first == key) {
            places.keyLines.push_back(line);
        }
    }
    return places;
}

std::string KeyLine(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    line += value;
    line += '\n';
    return line;
}

// The text up to `at`, with a "\n" added if its last line has none.
std::string Head(std::string_view text, std::size_t at) {
    std::string head(text.substr(0, at));
    if (!head.empty() && head.back() != '\n') {
        head += '\n';
    }
    return head;
}

}  // namespace

std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
    const Places places = Locate(text, section, key);
    if (places.keyLines.empty()) {
        return std::nullopt;
    }
    return std::string(Entry(places.keyLines.front().text)->second);
}

std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
    const Places places = Locate(text, section, key);
    if (!places.sectionFound) {
        std::string result = Head(text, text.size());
        if (!result.empty()) {
            result += '\n';
        }
        result += '[';
        result += section;
        result += "]\n";
        result += KeyLine(key, value);
        return result;
    }
    if (places.keyLines.empty()) {
        std::string result = Head(text, places.sectionEnd);
        result += KeyLine(key, value);
        result += text.substr(places.sectionEnd);
        return result;
    }
    std::string result;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < places.keyLines.size(); ++i) {
        const Line& line = places.keyLines[i];
        result += text.substr(copied, line.begin - copied);
        if (i == 0) {
            result += KeyLine(key, value);
        }
        copied = line.end;
    }
    result += text.substr(copied);
    return result;
}

std::string RemoveIniValue(std::string_view text, std::string_view section, std::string_view key) {
    const Places places = Locate(text, section, key);
    std::string result;
    std::size_t copied = 0;
    for (const Line& line : places.keyLines) {
        result += text.substr(copied, line.begin - copied);
        copied = line.end;
    }
    result += text.substr(copied);
    return result;
}

bool IsIniName(std::string_view name) {
    if (name.empty() || Trim(name) != name) {
        return false;
    }
    if (name.front() == '#' || name.front() == ';' || name.front() == '[') {
        return false;
    }
    for (const char c : name) {
        if (c == '\n' || c == '\r' || c == '=' || c == ']' || c == '\0') {
            return false;
        }
    }
    return true;
}

bool IsIniValue(std::string_view value) {
    if (Trim(value) != value) {
        return false;
    }
    for (const char c : value) {
        if (c == '\n' || c == '\r' || c == '\0') {
            return false;
        }
    }
    return true;
}

}  // namespace quillomir::linux_host
