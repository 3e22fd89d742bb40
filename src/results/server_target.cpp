#include "results/server_target.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kMask = "***";
constexpr std::size_t npos = std::string::npos;

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX sequences as bytes; a malformed sequence stays as it is.
std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The keywords whose values are secrets, in any case and percent-encoded or not: the client
// library takes them only in lower case, but the text is shown whatever it will make of it.
bool IsSecretKeyword(std::string_view keyword) {
    std::string key = PercentDecoded(keyword);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key == "password" || key == "sslpassword";
}

std::string Mask(const std::string& target, std::vector<std::string>* secrets);

// What follows a URL's credentials: hosts and database, then "?key=value&key=value". Split at
// every "?" and "&" (a password's value may hold one, and a "?" may stand where it should not)
// and at white space (keyword/value text typed after a URL): a part without "=" is the tail of
// the value before it, so a password with an unencoded "&" or a space is masked whole, and a
// secret's value runs on over white space to the next "&" or "?".
std::string MaskParameters(std::string_view text, std::vector<std::string>* secrets) {
    struct Part {
        char separator;  // before the part; 0 for the first
        std::string_view text;
    };
    auto secret = [](std::string_view part) {
        const std::size_t eq = part.find('=');
        return eq != npos && IsSecretKeyword(part.substr(0, eq));
    };
    std::vector<Part> parts;
    char separator = 0;
    for (std::size_t start = 0;;) {
        const std::size_t next = text.find_first_of("?& \t\r\n\f\v", start);
        const std::string_view part = text.substr(start, next == npos ? npos : next - start);
        const bool spaced = separator != 0 && separator != '?' && separator != '&';
        if (!parts.empty() && (part.find('=') == npos || (spaced && secret(parts.back().text)))) {
            const char* first = parts.back().text.data();
            parts.back().text = std::string_view(first, part.data() + part.size() - first);
        } else {
            parts.push_back({separator, part});
        }
        if (next == npos) break;
        separator = text[next];
        start = next + 1;
    }
    std::string out;
    for (const Part& part : parts) {
        if (part.separator != 0) out += part.separator;
        const std::size_t eq = part.text.find('=');
        if (secret(part.text)) {
            secrets->emplace_back(part.text.substr(eq + 1));
            out.append(part.text.substr(0, eq + 1)).append(kMask);
        } else {
            out.append(part.text);
        }
    }
    return out;
}

std::size_t LastAt(std::string_view text) {
    return text.rfind('@');
}

// The further of two positions, either of which may be npos (none).
std::size_t Further(std::size_t a, std::size_t b) {
    if (a == npos) return b;
    if (b == npos) return a;
    return std::max(a, b);
}

// scheme://[user[:password]@][hosts][/dbname][?query]
std::string MaskUrl(const std::string& url, std::size_t schemeEnd,
                    std::vector<std::string>* secrets) {
    std::string out = url.substr(0, schemeEnd);
    const std::string_view rest = std::string_view(url).substr(schemeEnd);
    // The client library takes the credentials up to the first "@" before the first "/". A
    // password with an unencoded "@" would leave its tail in the host, one with a "/" would be
    // read as a host and port. So the credentials end at the further of the last "@" before the
    // first "/" and the last "@" before the first "?".
    const std::size_t at =
        Further(LastAt(rest.substr(0, rest.find('/'))), LastAt(rest.substr(0, rest.find('?'))));
    std::string masked;
    std::size_t after = 0;
    if (at != npos) {
        const std::string_view credentials = rest.substr(0, at);
        const std::size_t colon = credentials.find(':');
        if (colon != npos) {
            secrets->emplace_back(credentials.substr(colon + 1));
            masked.append(credentials.substr(0, colon + 1)).append(kMask);
        } else {
            masked.append(credentials);
        }
        masked += '@';
        after = at + 1;
    }
    masked.append(rest.substr(after));
    // The parameters over everything, credentials included: where an "@" in a query was taken
    // for the end of the credentials, a password before it is still masked.
    out += MaskParameters(masked, secrets);
    return out;
}

// keyword = value pairs separated by white space; a value in single quotes may hold spaces, and
// a backslash takes the next character as it is.
std::string MaskKeywordValue(const std::string& text, std::vector<std::string>* secrets) {
    std::string out;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto copySpaces = [&] {
        while (i < n && IsSpace(text[i])) out += text[i++];
    };
    while (i < n) {
        copySpaces();
        const std::size_t keyStart = i;
        while (i < n && !IsSpace(text[i]) && text[i] != '=') ++i;
        const std::string keyword = text.substr(keyStart, i - keyStart);
        const std::size_t afterKeyword = i;
        while (i < n && IsSpace(text[i])) ++i;
        const bool secret = IsSecretKeyword(keyword);
        if (i >= n || text[i] != '=') {
            // Not a pair: the client library refuses the text. A word of its own is not shown
            // (it may be a URL with its credentials); a secret's keyword hides the rest.
            if (!secret) {
                if (!keyword.empty()) {
                    secrets->push_back(keyword);
                    out += kMask;
                }
                i = afterKeyword;
                continue;
            }
            out += keyword;
            out.append(text, afterKeyword, i - afterKeyword);
            if (i < n) {
                secrets->push_back(text.substr(i));
                out += kMask;
                return out;
            }
            continue;
        }
        out += keyword;
        out.append(text, afterKeyword, i - afterKeyword);
        out += text[i++];
        const std::size_t beforeSpaces = i;
        copySpaces();
        if (!secret && i > beforeSpaces && i < n && text[i] != '\'') {
            // "host= password=...": the client library would take "password=..." as the
            // value; shown, the next word followed by "=" is a keyword of its own. (After a
            // secret's "=" whatever comes is masked.)
            std::size_t j = i;
            while (j < n && !IsSpace(text[j]) && text[j] != '=') ++j;
            while (j < n && IsSpace(text[j])) ++j;
            if (j < n && text[j] == '=') continue;
        }
        const std::size_t valueStart = i;
        const bool quoted = i < n && text[i] == '\'';
        std::string value;  // without quotes and escapes
        if (quoted) ++i;
        while (i < n) {
            if (text[i] == '\\' && i + 1 < n) {
                value += text[i + 1];
                i += 2;
            } else if (quoted ? text[i] == '\'' : IsSpace(text[i])) {
                if (quoted) ++i;
                break;
            } else {
                value += text[i++];
            }
        }
        if (secret && !quoted) {
            // A password typed with spaces and no quotes: the words up to the next keyword
            // ("word=") are masked with it.
            for (;;) {
                std::size_t j = i;
                while (j < n && IsSpace(text[j])) ++j;
                std::size_t end = j;
                while (end < n && !IsSpace(text[end]) && text[end] != '=') ++end;
                std::size_t k = end;
                while (k < n && IsSpace(text[k])) ++k;
                if (j == n || (k < n && text[k] == '=')) break;
                value += text.substr(i, end - i);
                i = end;
            }
        }
        const std::string raw = text.substr(valueStart, i - valueStart);
        if (secret) {
            secrets->push_back(raw);
            secrets->push_back(value);
            out += kMask;
        } else if (keyword == "dbname" && (RESULTS_IsServerUrl(value) || value.find('=') != npos)) {
            // A database name may itself be a whole target.
            const std::string inner = Mask(value, secrets);
            out += quoted ? "'" + inner + "'" : inner;
        } else {
            out += raw;
        }
    }
    return out;
}

// The length of a URL's scheme with its ":" and the slashes after it ("pgsql://", "HTTP:/");
// 0 when the text does not begin with one.
std::size_t SchemeLength(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) != 0 ||
                               text[i] == '+' || text[i] == '-' || text[i] == '.')) {
        ++i;
    }
    if (i == 0 || i >= text.size() || text[i] != ':' ||
        std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
        return 0;
    }
    ++i;
    while (i < text.size() && text[i] == '/') ++i;
    return i;
}

// True when the text's first word is a keyword/value pair ("host=db", "password = x").
bool StartsWithPair(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() &&
           (std::isalnum(static_cast<unsigned char>(text[i])) != 0 || text[i] == '_')) {
        ++i;
    }
    if (i == start) return false;
    while (i < text.size() && IsSpace(text[i])) ++i;
    return i < text.size() && text[i] == '=';
}

// A text that is neither a server URL nor keyword/value text: a mistyped scheme ("POSTGRESQL://",
// "postgresql:/", "pgsql://"), a white space before it, a bare "user:password@host". The client
// library never reads it, so nothing in it is known to be harmless: only its scheme and what
// follows the last "@" up to a parameter are shown.
std::string MaskOther(const std::string& text, std::vector<std::string>* secrets) {
    std::size_t start = 0;
    while (start < text.size() && IsSpace(text[start])) ++start;
    const std::size_t scheme = start + SchemeLength(std::string_view(text).substr(start));
    std::string out = text.substr(0, scheme);
    std::string_view rest = std::string_view(text).substr(scheme);
    if (const std::size_t at = rest.rfind('@'); at != npos) {
        secrets->emplace_back(rest.substr(0, at));
        out.append(kMask).append("@");
        rest = rest.substr(at + 1);
    }
    const std::size_t cut = rest.find_first_of("?&= \t\r\n\f\v");
    out.append(rest.substr(0, cut));
    if (cut != npos) {
        secrets->emplace_back(rest.substr(cut));
        out.append(kMask);
    }
    return out;
}

std::string Mask(const std::string& target, std::vector<std::string>* secrets) {
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        const std::size_t length = std::char_traits<char>::length(scheme);
        if (target.compare(0, length, scheme) == 0) return MaskUrl(target, length, secrets);
    }
    if (StartsWithPair(target)) return MaskKeywordValue(target, secrets);
    return MaskOther(target, secrets);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != npos;
}

}  // namespace

bool RESULTS_IsServerUrl(const std::string& text) {
    return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

std::string RESULTS_MaskedTarget(const std::string& target) {
    std::vector<std::string> secrets;
    return Mask(target, &secrets);
}

std::string RESULTS_MaskedMessage(const std::string& message, const std::string& target) {
    std::vector<std::string> secrets;
    const std::string masked = Mask(target, &secrets);
    const std::string decodedTarget = PercentDecoded(target);
    const std::string decodedMasked = PercentDecoded(masked);
    // A quoted part that is in the target but not in its masked form came from a secret.
    auto fromSecret = [&](const std::string& quoted) {
        return (Contains(target, quoted) && !Contains(masked, quoted)) ||
               (Contains(decodedTarget, quoted) && !Contains(decodedMasked, quoted));
    };
    std::string out;
    std::size_t i = 0;
    while (i < message.size()) {
        const std::size_t open = message.find('"', i);
        const std::size_t close = open == npos ? npos : message.find('"', open + 1);
        if (close == npos) {
            out.append(message, i, npos);
            break;
        }
        const std::string quoted = message.substr(open + 1, close - open - 1);
        out.append(message, i, open + 1 - i);
        out += !quoted.empty() && fromSecret(quoted) ? kMask : quoted;
        out += '"';
        i = close + 1;
    }
    // And any piece of a secret anywhere else (a quote in the target can break the pairs):
    // four characters of one, or the whole of a shorter one.
    std::vector<std::string> forms;
    for (const std::string& secret : secrets) {
        if (!secret.empty()) forms.push_back(secret);
        if (const std::string decoded = PercentDecoded(secret); decoded != secret) {
            forms.push_back(decoded);
        }
    }
    std::string scrubbed;
    for (std::size_t i = 0; i < out.size();) {
        std::size_t cut = 0;
        for (const std::string& form : forms) {
            for (std::size_t j = 0; j < form.size(); ++j) {
                std::size_t same = 0;
                while (i + same < out.size() && j + same < form.size() &&
                       out[i + same] == form[j + same]) {
                    ++same;
                }
                if (same >= 4 || (same >= 2 && same == form.size())) cut = std::max(cut, same);
            }
        }
        if (cut > 0) {
            scrubbed += kMask;
            i += cut;
        } else {
            scrubbed += out[i++];
        }
    }
    return scrubbed;
}
