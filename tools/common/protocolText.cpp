#include "tools/common/protocolText.h"

#include <cctype>
#include <climits>

namespace tools {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::string trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> splitFields(const std::string& text, char separator) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == separator)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

bool parseInt(const std::string& text, int* value) {
    const std::string digits   = trim(text);
    size_t            i        = 0;
    bool              negative = false;
    if (i < digits.size() && (digits[i] == '-' || digits[i] == '+'))
        negative = digits[i++] == '-';
    if (i == digits.size())
        return false;
    long long result = 0;
    for (; i < digits.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(digits[i])))
            return false;
        result = result * 10 + (digits[i] - '0');
        if (result > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        result = -result;
    if (result > INT_MAX || result < INT_MIN)
        return false;
    *value = static_cast<int>(result);
    return true;
}

bool parseCoordinates(const std::string& text, int* x, int* y) {
    const std::vector<std::string> fields = splitFields(text, ',');
    return fields.size() == 2 && parseInt(fields[0], x) && parseInt(fields[1], y);
}

std::string commandWord(const std::string& line) {
    const std::string text = trim(line);
    std::string       word;
    for (char c : text) {
        if (isBlank(c))
            break;
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return word;
}

} // namespace tools
