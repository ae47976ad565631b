// Ending the current user's processes by program name, the one part of the
// process-control program that each system does its own way.
#pragma once

#include <string>
#include <vector>

// The name as given, and without a trailing ".exe" (any letter case).
std::vector<std::string> CandidateNames(const std::string& name);

// Ends the processes named `name` (or `name` without ".exe"): first asked to
// close, after a grace period forced. 0 when none is left, 1 otherwise.
int KillByName(const std::string& name);
