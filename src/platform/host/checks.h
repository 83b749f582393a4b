#pragma once
// Small checks and conversions of the suite's shared client library.

#include <string>
#include <string_view>

#include "platform/rtl/datetime.h"
#include "platform/rtl/variant.h"

namespace host {

// A code brought to width n: blanks trimmed, then zeros put in front of a
// shorter code ("1" -> "0001"). An empty text stays empty; a longer code is
// left as typed so that the lookup refuses it instead of silently cutting it.
std::string Ajusta(std::string_view text, size_t n);

// True when the text holds nothing but blanks.
bool EmptyString(std::string_view text);

// value rounded to n decimals, half away from zero on the value as written
// in decimal (2.675 -> 2.68), which is what a user comparing sums expects.
double RoundDec(double value, int n);

// "Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado";
// "" for a zero (empty) date.
std::string NomeSemana(rtl::TDateTime date);

// Edit mask of a registration number for a person type: "F" individual
// (CPF), "J" company (CNPJ); "" (no mask) for any other type.
std::string PictPess(std::string_view personType);

// Reads a result array of a remote method. With raise true a failed result
// (or anything that is not a result array, such as a lost connection) raises
// rtl::Exception with the server's message; otherwise the payload is returned.
// index is the position of the status element (0 for every method here).
rtl::Variant CheckResultServ(const rtl::Variant& result, bool raise = true, int index = 0);

// The message shown when a remote call brought back no result at all.
extern const char* const kSemResposta;

}  // namespace host
