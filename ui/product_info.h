#pragma once

#include <array>
#include <string>
#include <string_view>

// The product's own name, maker and addresses. Every place that shows them
// (the product page, the About dialog) reads them from here, so a change of
// address is made once.
inline constexpr std::string_view kProductName = "Vantor";
inline constexpr std::string_view kMakerName = "The Vantor developers";
inline constexpr std::string_view kCopyrightYear = "2026";
inline constexpr std::string_view kWebAddress = "https://vantor.dev";
inline constexpr std::string_view kContactEMail = "hello@vantor.dev";
inline constexpr std::string_view kDonationPage = "https://vantor.dev/donate";

// The lines that tell the user the program costs nothing and how to support it.
inline constexpr std::string_view kFreewareStatement =
    "Vantor is free software: use it, copy it and share it at no cost.";
inline constexpr std::string_view kDonationInvitation =
    "If you find Vantor useful, please consider a small donation.";
// Points the user at the About box and the web site, for news and help.
std::string VisitWebSiteLine();

// The licence shown on the product page; the same text as the LICENSE file
// of the source tree, one paragraph per entry.
inline constexpr std::string_view kLicenseTitle = "Vantor License";
inline constexpr std::array<std::string_view, 4> kLicenseParagraphs = {
    "Copyright (c) 2026 The Vantor developers",
    "Permission is hereby granted, free of charge, to any person obtaining a copy of this "
    "software and associated documentation files (the \"Software\"), to deal in the Software "
    "without restriction, including without limitation the rights to use, copy, modify, merge, "
    "publish, distribute, sublicense, and/or sell copies of the Software, and to permit persons "
    "to whom the Software is furnished to do so, subject to the following conditions:",
    "The above copyright notice and this permission notice shall be included in all copies or "
    "substantial portions of the Software.",
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, "
    "INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR "
    "PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE "
    "FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR "
    "OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER "
    "DEALINGS IN THE SOFTWARE."};

// The four numbers of the file version, compiled in from the build.
struct TFileVersion {
  int Major = 0;
  int Minor = 0;
  int Release = 0;
  int Build = 0;
};
TFileVersion CompiledFileVersion();

// The version values the program tells about itself, by their usual names.
struct TVersionValues {
  std::string ProductName;
  std::string ProductVersion; // major.minor.release
  std::string FileVersion;    // major.minor.release.build
  std::string FileDescription;
  std::string CompanyName;
  std::string LegalCopyright;
  std::string LegalTrademarks;
};
TVersionValues CompiledVersionValues();

// What the program runs on and as.
struct TEnvironmentValues {
  std::string ComputerName;
  std::string OsName;
  std::string ExecutablePath;
};
// Reads them now: the host name, the system's name from /etc/os-release and
// the running executable (/proc/self/exe).
TEnvironmentValues ReadEnvironmentValues();

// The system's name from the os-release file at `path`: its PRETTY_NAME, or,
// when the file or that value is missing or empty, the kernel's name and
// release.
std::string OsNameFrom(const std::string &path);
// The PRETTY_NAME value of an os-release file's content, unquoted; empty
// when it has none.
std::string PrettyNameOf(std::string_view osRelease);
