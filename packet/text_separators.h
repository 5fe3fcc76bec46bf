#pragma once

#include <string>

// The regional separators the formatting helpers use. Read once at start-up
// from the system locale; tests set them directly.
struct TextSeparators {
  std::string decimal = ".";
  std::string thousands = ",";
  std::string time = ":";
};

const TextSeparators &CurrentTextSeparators();
void SetTextSeparators(const TextSeparators &separators);
// Takes the decimal point and group separator from QLocale::system(); the
// time separator is ":".
void LoadSystemTextSeparators();
