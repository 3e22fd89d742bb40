// The one way a results server's target is shown: whatever a password holds and whatever query
// follows it, no part of it is shown. The input is cut at newlines into the parts of a target
// (the form, user, password, host, database, query); user, host and database are plain names,
// the password begins with a marker that no other part holds, and the marker must never come
// out, neither from the target nor from a message of the client library quoting part of it.
// Left out, as the text reads as well without a password there: in a URL's credentials a
// password that holds both "/" and "?" ("user:p/w?x@host" is also a host, a port and a query);
// in a query, one that holds "&" or "?" before a "="; unquoted in keyword/value text, one with
// white space. Also the texts that are not quite a URL (a scheme in other letters or with one
// slash, another scheme, keyword/value text after a URL's query).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "results/server_target.h"

namespace {

constexpr const char* kMarker = "Qz7k";

std::vector<std::string> Parts(const std::string& text, std::size_t count) {
    std::vector<std::string> parts(count);
    std::size_t part = 0;
    for (char c : text) {
        if (c == '\n' && part + 1 < count) {
            ++part;
        } else {
            parts[part] += c;
        }
    }
    return parts;
}

std::string Quoted(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> p =
        Parts(std::string(reinterpret_cast<const char*>(data), size), 6);
    const std::string& form = p[0];
    const std::string& user = p[1];
    const std::string password = kMarker + p[2];
    const std::string& host = p[3];
    const std::string& database = p[4];
    const std::string& query = p[5];
    for (const std::string* name : {&user, &host, &database}) {
        for (char c : *name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return 0;
        }
    }
    const std::string scheme = form.size() > 1 ? form.substr(1) : "POSTGRESQL://";
    for (const std::string* other : {&user, &host, &database, &query, &scheme}) {
        if (other->find("Qz7") != std::string::npos || other->find("z7k") != std::string::npos) {
            return 0;
        }
    }
    const unsigned shape = form.empty() ? 0 : static_cast<unsigned char>(form[0]) % 7;
    // In credentials, "/" and "?" in one password read as a host, a port and a query.
    if ((shape == 0 || shape == 6) && password.find('/') != std::string::npos &&
        password.find('?') != std::string::npos) {
        return 0;
    }
    // A query value ends at an unencoded "&" or "?" before another "key=value".
    if (shape == 1 || shape == 2 || shape == 5) {
        const std::size_t separator = password.find_first_of("&?");
        if (separator != std::string::npos && password.find('=', separator) != std::string::npos) {
            return 0;
        }
    }
    // A scheme is letters, digits and "+-.", then ":" and slashes.
    if (shape == 6) {
        for (char c : scheme) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.' &&
                c != ':' && c != '/') {
                return 0;
            }
        }
    }
    // An unquoted value ends at white space: the rest would be other keywords.
    if (shape == 4 || shape == 5) {
        for (char c : password) {
            if (std::isspace(static_cast<unsigned char>(c))) return 0;
        }
    }
    std::string target;
    switch (shape) {
        case 0:
            target =
                "postgresql://" + user + ":" + password + "@" + host + "/" + database + "?" + query;
            break;
        case 1:
            target =
                "postgresql://" + host + "/" + database + "?" + query + "&password=" + password;
            break;
        case 2:
            target = "postgres://" + user + "@" + host + "/" + database + "?password=" + password +
                     "&" + query;
            break;
        case 3:
            target =
                "host=" + host + " password=" + Quoted(password) + " dbname=" + Quoted(database);
            break;
        case 4:
            target = "host=" + host + " password = " + password + " user=" + user;
            break;
        case 5:
            target = "postgresql://" + host + "/" + database + "?" + query +
                     " password=" + password + " user=" + user;
            break;
        default: {
            // The scheme as typed: the rest of the form's line.
            target = scheme + user + ":" + password + "@" + host + "/" + database + "?" + query;
            break;
        }
    }
    const std::string shown = RESULTS_MaskedTarget(target);
    if (shown.find(kMarker) != std::string::npos) std::abort();
    // A message quoting any piece of the target that holds the password's start.
    for (std::size_t from = 0; from < target.size(); ++from) {
        const std::size_t at = target.find(kMarker, from);
        if (at == std::string::npos) break;
        const std::string quoted =
            target.substr(from, at - from + 4 + (target.size() - at - 4) / 2);
        const std::string message = "could not read \"" + quoted + "\" here";
        if (RESULTS_MaskedMessage(message, target).find(kMarker) != std::string::npos) std::abort();
        from = at;
    }
    return 0;
}
