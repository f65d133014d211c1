// libFuzzer target for the size conversion: nothing may crash, and every text
// is accepted exactly when a plain reading of the syntax accepts it, with the
// same value.
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "sekto.h"

namespace {

// The syntax read plainly: white space, a sign, digits, a multiplier, a "B".
const std::regex syntax(R"(\s*([+-]?)([0-9]+)([KMGTPEkmgtpe]?)[Bb]?)");

// The value of the text by that reading, or false where the syntax refuses
// it, "-" stands before anything but zero, or the value needs more than 64 bits.
bool plain_value(const std::string &text, uint64_t *value)
{
	std::smatch m;
	if (!std::regex_match(text, m, syntax))
		return false;
	unsigned __int128 v = 0;
	for (char c : m[2].str()) {
		v = v * 10 + static_cast<unsigned>(c - '0');
		if (v > UINT64_MAX)
			return false;
	}
	if (m[3].length() != 0)
		v <<= 10 * (std::string("KMGTPE").find(static_cast<char>(toupper(m[3].str()[0]))) + 1);
	if (v > UINT64_MAX || (m[1] == "-" && v != 0))
		return false;
	*value = static_cast<uint64_t>(v);
	return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// a C string ends at its first NUL
	std::string text(reinterpret_cast<const char *>(data), size);
	text = text.substr(0, text.find('\0'));
	if (text.size() > 64)
		return 0;

	uint64_t got = 0, want = 0;
	bool accepted = expand_size(text.c_str(), &got) == 0;
	bool plain = plain_value(text, &want);
	if (accepted != plain || (accepted && got != want))
		abort();
	return 0;
}
