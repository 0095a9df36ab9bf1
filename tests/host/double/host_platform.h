// What the platform double offers a test that must see the stub's boxes and
// survive its fatal reports.
//
// Message boxes are recorded instead of shown, string resources come from
// the English table, and ending the process calls HostExitHook (by default
// the process really ends). A test that must survive a fatal report installs
// a hook that throws HostExit and catches it.
#pragma once

#include <string>
#include <vector>

struct HostExit {
    unsigned code;
};

struct HostBox {
    void *owner;
    std::string text;     // "" for a null text
    bool nullText;
    std::string caption;
    unsigned type;
};

// Called by EndProcess; must not return (throw HostExit, or exit).
extern void (*HostExitHook)(unsigned code);
// Installs a hook that throws HostExit{code}.
void HostThrowOnExit();

// Every box shown since the last HostResetBoxes, in order.
extern std::vector<HostBox> HostBoxes;
// Answers given to the next boxes, in order; once used up, boxes answer
// IDOK (OK boxes and OK/Cancel boxes) or IDYES (Yes/No/Cancel boxes).
extern std::vector<int> HostBoxAnswers;
void HostResetBoxes();

