#pragma once
// A line's server as the station names it: a connection target in one of the forms the client
// library takes (a postgresql:// URL, or "host=... dbname=..." keyword/value text), and the one
// way such a target is ever shown to a person: with every password masked.
#include <string>

// True for a text that names a server store (a postgresql:// or postgres:// URL).
bool RESULTS_IsServerUrl(const std::string& text);

// The target as messages show it: the password of "user:password@" and the values of
// "password" and "sslpassword" (in a URL's query, also percent-encoded or in another case, and
// in keyword/value text, quoted or not) replaced by "***". Where the text is ambiguous (an
// unencoded "@", ":" or "&" in a password) more is masked, never less.
std::string RESULTS_MaskedTarget(const std::string& target);

// A message of the client library about target with everything quoted in it that comes from
// the target's masked parts (a password's tail read as a host name, a token it could not
// decode) replaced by "***".
std::string RESULTS_MaskedMessage(const std::string& message, const std::string& target);
