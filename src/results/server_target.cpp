#include "results/server_target.h"

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

// The query of a URL, "key=value&key=value": a part without "=" is the tail of the value before
// it (a password with an unencoded "&" is masked whole).
std::string MaskQuery(std::string_view query, std::vector<std::string>* secrets) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t amp = query.find('&', start);
        const std::string_view part = query.substr(start, amp == npos ? npos : amp - start);
        if (!parts.empty() && part.find('=') == npos) {
            const char* first = parts.back().data();
            parts.back() = std::string_view(first, part.data() + part.size() - first);
        } else {
            parts.push_back(part);
        }
        if (amp == npos) break;
        start = amp + 1;
    }
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += '&';
        const std::size_t eq = parts[i].find('=');
        if (eq != npos && IsSecretKeyword(parts[i].substr(0, eq))) {
            secrets->emplace_back(parts[i].substr(eq + 1));
            out.append(parts[i].substr(0, eq + 1)).append(kMask);
        } else {
            out.append(parts[i]);
        }
    }
    return out;
}

// scheme://[user[:password]@][hosts][/dbname][?query]
std::string MaskUrl(const std::string& url, std::size_t schemeEnd,
                    std::vector<std::string>* secrets) {
    std::string out = url.substr(0, schemeEnd);
    const std::string_view rest = std::string_view(url).substr(schemeEnd);
    // The client library takes the credentials up to the first "@" before the first "/"; a
    // password with an unencoded "@" would leave its tail in the host, so everything up to the
    // last "@" before the first "/" counts as credentials here.
    const std::size_t slash = rest.find('/');
    const std::size_t at = rest.substr(0, slash).rfind('@');
    std::size_t after = 0;
    if (at != npos) {
        const std::string_view credentials = rest.substr(0, at);
        const std::size_t colon = credentials.find(':');
        if (colon != npos) {
            secrets->emplace_back(credentials.substr(colon + 1));
            out.append(credentials.substr(0, colon + 1)).append(kMask);
        } else {
            out.append(credentials);
        }
        out += '@';
        after = at + 1;
    }
    const std::size_t question = rest.find('?', after);
    out.append(rest.substr(after, question == npos ? npos : question - after));
    if (question != npos) out += "?" + MaskQuery(rest.substr(question + 1), secrets);
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
        out += keyword;
        copySpaces();
        const bool secret = IsSecretKeyword(keyword);
        if (i >= n || text[i] != '=') {
            // Not a pair: the client library refuses the text; a secret's keyword hides the rest.
            if (secret && i < n) {
                secrets->push_back(text.substr(i));
                out += kMask;
                return out;
            }
            continue;
        }
        out += text[i++];
        copySpaces();
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

std::string Mask(const std::string& target, std::vector<std::string>* secrets) {
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        const std::size_t length = std::char_traits<char>::length(scheme);
        if (target.compare(0, length, scheme) == 0) return MaskUrl(target, length, secrets);
    }
    return MaskKeywordValue(target, secrets);
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
    // And a secret anywhere else, where it is long enough not to be part of ordinary words.
    for (const std::string& secret : secrets) {
        for (const std::string& form : {secret, PercentDecoded(secret)}) {
            if (form.size() < 4) continue;
            for (std::size_t at = out.find(form); at != npos; at = out.find(form, at + 3)) {
                out.replace(at, form.size(), kMask);
            }
        }
    }
    return out;
}
