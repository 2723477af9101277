#include "brdocs.h"

#include <algorithm>

namespace erp::server::brdocs {

namespace {

char checkDigit(const std::string &digits, int firstWeight, bool cnpj)
{
    int sum = 0, weight = firstWeight;
    for (char ch : digits) {
        sum += (ch - '0') * weight;
        weight = cnpj && weight == 2 ? 9 : weight - 1;
    }
    const int r = sum % 11;
    return char('0' + (r < 2 ? 0 : 11 - r));
}

bool allDigits(const std::string &s, size_t n)
{
    return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool allSame(const std::string &s) { return s.find_first_not_of(s.front()) == std::string::npos; }

} // namespace

std::string completeCpf(const std::string &nineDigits)
{
    std::string s = nineDigits;
    s += checkDigit(s, 10, false);
    s += checkDigit(s, 11, false);
    return s;
}

std::string completeCnpj(const std::string &twelveDigits)
{
    std::string s = twelveDigits;
    s += checkDigit(s, 5, true);
    s += checkDigit(s, 6, true);
    return s;
}

bool validCpf(const std::string &digits)
{
    return allDigits(digits, 11) && !allSame(digits) && completeCpf(digits.substr(0, 9)) == digits;
}

bool validCnpj(const std::string &digits)
{
    return allDigits(digits, 14) && !allSame(digits) && completeCnpj(digits.substr(0, 12)) == digits;
}

} // namespace erp::server::brdocs
