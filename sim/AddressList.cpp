#include "sim/Simulator.h"

#include <array>
#include <charconv>
#include <string_view>
#include <utility>

namespace eload::sim {

namespace {

constexpr int kLowest = 1;
constexpr int kHighest = 255;

std::optional<int> addressIn(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < kLowest || value > kHighest) return std::nullopt;
    return value;
}

SimError badItem(std::string_view item)
{
    return {"\"" + std::string(item) + "\" is neither an address 1..255 nor a range of them (1-4)"};
}

} // namespace

std::variant<std::vector<std::uint8_t>, SimError> parseAddressList(const std::string& text)
{
    std::vector<std::uint8_t> addresses;
    std::array<bool, kHighest + 1> given{};
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const std::size_t dash = item.find('-');
        const auto first = addressIn(item.substr(0, dash));
        const auto last = dash == item.npos ? first : addressIn(item.substr(dash + 1));
        if (!first || !last || *last < *first) return badItem(item);
        for (int a = *first; a <= *last; ++a) {
            if (std::exchange(given[std::size_t(a)], true))
                return SimError{"address " + std::to_string(a) + " is given twice"};
            addresses.push_back(std::uint8_t(a));
        }
        if (comma == rest.npos) return addresses;
        rest.remove_prefix(comma + 1);
    }
}

} // namespace eload::sim
