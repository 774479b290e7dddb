// The program's entry: the first character of the first argument, read as wide text on Windows.
#include "api/exports.h"
#include "tool/txl_apply.h"

namespace {

const txlapply::KrillCalls kImported = {
    get_IsMBIMReady, set_BodySarEnable, set_BodySarON,      set_BodySarMode,  get_BodySarMode,
    set_BodySarProfile, set_BodySarClear, set_BodySarValue, get_BodySarValue,
};

template <class Char>
char16_t FirstCharacter(int argc, Char** argv) {
  return argc > 1 && argv[1] ? static_cast<char16_t>(argv[1][0]) : u'\0';
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return txlapply::Run(FirstCharacter(argc, argv), kImported); }
#else
int main(int argc, char** argv) { return txlapply::Run(FirstCharacter(argc, argv), kImported); }
#endif
