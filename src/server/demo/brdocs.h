#pragma once

#include <string>

// Brazilian registration numbers (digits only) with their check digits.
namespace erp::server::brdocs {

// From the first 9 (CPF) or 12 (CNPJ) digits, the whole number with its two check digits.
std::string completeCpf(const std::string &nineDigits);
std::string completeCnpj(const std::string &twelveDigits);
bool validCpf(const std::string &digits);
bool validCnpj(const std::string &digits);

} // namespace erp::server::brdocs
