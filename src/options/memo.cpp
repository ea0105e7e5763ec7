#include "options/memo.hpp"

// The memo is asked for by --MEMO and the INI key MEMO, which come later.
void memo_prompt(Run&) {}
