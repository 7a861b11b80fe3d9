#pragma once

#include <string>

// The short name of a media path for the info line: the file name with its
// extension; a name that starts with a scheme ("http://...", "dvd:...") stays whole;
// a DVD's ".ifo" anywhere in the path gives the drive (or the root). The path's own
// case is kept.
bool GetDisplayName(const std::string& path, std::string& name);
