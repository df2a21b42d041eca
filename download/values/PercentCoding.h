#pragma once
// Percent-escapes, as the download road writes and reads them: a byte as
// "%" and two hexadecimal digits, upper case when written. Which bytes stay
// as they are is the writer's policy; the policies in use are here too.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dl {

// Which digits a reader takes: any case, or upper case only (for a file
// this program wrote itself).
enum class HexDigits { AnyCase, UpperCase };

// The value of a hexadecimal digit, or -1.
int HexDigitValue(char c, HexDigits digits = HexDigits::AnyCase);

// The byte an escape at `at` gives: "%" and two hexadecimal digits there.
std::optional<unsigned char> EscapedByteAt(std::string_view text, std::size_t at,
                                           HexDigits digits = HexDigits::AnyCase);

// "%" and the byte's two upper-case hexadecimal digits.
void AppendPercentEscape(std::string& out, unsigned char byte);

// Which bytes a writer keeps as they are.
using KeptByte = bool (*)(unsigned char byte);

// `text` with every byte that `kept` refuses written as an escape.
std::string PercentEncode(std::string_view text, KeptByte kept);

// The policies.
// A form value: ASCII letters, digits and ! $ ' ( ) * - . @ _.
bool IsFormValueByte(unsigned char byte);
// An address sent as it stands: anything but a blank, a control byte and a
// byte of 128 and above ("%" stays, so escapes already there stay too).
bool IsUrlSafeByte(unsigned char byte);
// Unreserved in an address: ASCII letters, digits and - . _ ~.
bool IsUnreservedByte(unsigned char byte);
// A visible ASCII character other than "%": "!" to "~" without "%".
bool IsVisibleNonPercentByte(unsigned char byte);

}  // namespace dl
