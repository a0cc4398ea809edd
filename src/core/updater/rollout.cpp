#include "rollout.h"

#include <random>
#include <string>

namespace corvidale::updater {
namespace {

bool digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

RolloutDecision rolloutDecision(const Rollout& rollout, double position, std::int64_t now) {
    if (rollout.form == Rollout::Form::None) return RolloutDecision::Take;
    if (rollout.form == Rollout::Form::Malformed || rollout.hours < 1 || rollout.hours > kMaxRolloutHours) {
        return RolloutDecision::Malformed;
    }
    if (now < rollout.start) return RolloutDecision::Wait;
    const double share = static_cast<double>(now - rollout.start) / static_cast<double>(rollout.hours * 3600);
    return share >= position ? RolloutDecision::Take : RolloutDecision::Wait;
}

std::optional<std::int64_t> parseUTCTime(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() < 20 || !digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') ||
        !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' ||
        !digits(text, 17, 2, second)) {
        return std::nullopt;
    }
    std::size_t at = 19;
    if (text[at] == '.') {
        const std::size_t first = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at == first) return std::nullopt;
    }
    const std::string_view zone = text.substr(at);
    if (zone != "Z" && zone != "z" && zone != "+00:00") return std::nullopt;
    // A leap second counts as the second before it.
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 60) {
        return std::nullopt;
    }
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + (second == 60 ? 59 : second);
}

std::optional<double> parseRolloutPosition(std::string_view text) {
    if (text == "0") return 0.0;
    if (text.size() < 3 || text.size() > 19 || !text.starts_with("0.")) return std::nullopt;
    std::uint64_t numerator = 0, denominator = 1;
    for (const char c : text.substr(2)) {
        if (c < '0' || c > '9') return std::nullopt;
        numerator = numerator * 10 + static_cast<std::uint64_t>(c - '0');
        denominator *= 10;
    }
    // Past 15 digits the quotient may round up to one: out of range all the same.
    const double value = static_cast<double>(numerator) / static_cast<double>(denominator);
    return value < 1.0 ? std::optional<double>(value) : std::nullopt;
}

double rolloutPosition(platform::Defaults& defaults) {
    if (const auto stored = defaults.string(kRolloutPositionKey)) {
        if (const auto position = parseRolloutPosition(*stored)) return *position;
    }
    // Fifteen decimal digits: written and read back without a locale, and
    // without rounding.
    constexpr std::uint64_t kSteps = 1'000'000'000'000'000;
    std::random_device source;
    const std::uint64_t draw = std::uniform_int_distribution<std::uint64_t>(0, kSteps - 1)(source);
    std::string digits = std::to_string(draw);
    const std::string text = "0." + std::string(15 - digits.size(), '0') + digits;
    defaults.setString(kRolloutPositionKey, text);
    return static_cast<double>(draw) / static_cast<double>(kSteps);
}

}  // namespace corvidale::updater
