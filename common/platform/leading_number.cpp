#include "leading_number.h"

namespace quellin {

LeadingNumber SplitLeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    LeadingNumber number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        number.negative = text[i++] == '-';
    std::size_t end = i;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    number.digits = text.substr(i, end - i);
    return number;
}

}  // namespace quellin
