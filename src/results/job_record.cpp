#include "results/job_record.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>

std::string RESULTS_ImagesToJson(const std::vector<RecordedImage>& images) {
    nlohmann::json list = nlohmann::json::array();
    for (const RecordedImage& i : images) {
        list.push_back({{"name", i.name}, {"size", i.size}, {"sha256", i.sha256}});
    }
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool RESULTS_ImagesFromJson(const std::string& text, std::vector<RecordedImage>* images) {
    images->clear();
    const nlohmann::json list = nlohmann::json::parse(text, nullptr, false);
    if (!list.is_array()) return false;
    for (const nlohmann::json& item : list) {
        if (!item.is_object()) return false;
        RecordedImage i;
        i.name = item.value("name", std::string());
        i.size = item.value("size", std::int64_t{0});
        i.sha256 = item.value("sha256", std::string());
        images->push_back(std::move(i));
    }
    return true;
}

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

std::string RESULTS_FormatUtc(std::int64_t unixMs) {
    std::int64_t days = unixMs / 86400000;
    std::int64_t rest = unixMs % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, &y, &m, &d);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ",
                  static_cast<long long>(y), m, d, static_cast<long long>(rest / 3600000),
                  static_cast<long long>(rest / 60000 % 60),
                  static_cast<long long>(rest / 1000 % 60), static_cast<long long>(rest % 1000));
    return text;
}

bool RESULTS_ParseUtc(const std::string& text, std::int64_t* unixMs) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &s,
                    &used) != 7 ||
        (sep != 'T' && sep != ' ') || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 60 || h < 0 || mi < 0 || s < 0) {
        return false;
    }
    int ms = 0;
    std::size_t at = static_cast<std::size_t>(used);
    if (at < text.size() && text[at] == '.') {
        int digits = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            if (digits < 3) ms = ms * 10 + (text[at] - '0');
        }
        if (digits == 0) return false;
        for (; digits < 3; ++digits) ms *= 10;
    }
    if (at < text.size() && text[at] == 'Z')
        ++at;
    else if (at + 3 <= text.size() && text.compare(at, 3, "+00") == 0)
        at = text.size();
    if (at != text.size()) return false;
    *unixMs = (DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
               h * 3600 + mi * 60 + s) *
                  1000 +
              ms;
    return true;
}

std::int64_t RESULTS_NowUnixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string RESULTS_NewJobId() {
    static thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           static_cast<unsigned>(RESULTS_NowUnixMs())};
        return std::mt19937_64(seed);
    }();
    std::uint8_t b[16];
    for (int i = 0; i < 16; i += 8) {
        const std::uint64_t r = engine();
        for (int j = 0; j < 8; ++j) b[i + j] = static_cast<std::uint8_t>(r >> (8 * j));
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3f) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}
