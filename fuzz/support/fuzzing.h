#pragma once
// What the fuzz targets share: oracle checks that end the run with a message, a scratch folder for the
// emulated drives, and the canary that marks files no answer may ever show.
//
// A target's entry (LLVMFuzzerTestOneInput) is linked either with libFuzzer (the fuzz preset) or with
// replay_main.cpp (every other Linux build, where ctest runs it over the committed inputs). Neither may
// tell which: everything a target needs it sets up on its first input.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qffuzz {

// Prints what failed and aborts: libFuzzer saves the input, a replay fails its test.
[[noreturn]] void Fail(const char* what, const char* file, int line);

#define QF_FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : ::qffuzz::Fail(#condition, __FILE__, __LINE__))

// A folder of this process under the temporary folder (TMPDIR), made on the first call and removed with
// everything in it when the process exits normally.
const std::filesystem::path& ScratchFolder();

// Runs `cleanup` when the process exits normally, before the scratch folder is removed and before the
// function-local statics made so far are destroyed.
void AtExit(void (*cleanup)());

// The input as text.
inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The input's first line (up to the first LF, without it and without a CR before it) and the rest.
struct Cut {
  std::string_view line;
  std::string_view rest;
};
Cut FirstLine(std::string_view input);

// Written into every file that no answer may show (settings, accounts, the whitelist, files outside the
// skin folder). An answer that holds it while the input does not has shown such a file.
inline constexpr char kCanary[] = "qf-canary-0b7e5d";
bool ShowsCanary(std::string_view answer, std::string_view input);

void WriteHostFile(const std::filesystem::path& path, std::string_view contents);

}  // namespace qffuzz
