// Start-vector files written with commas, which the start-file reader stops at without a word:
// "1,05" reads as 1 and ends the row.
#pragma once

#include <string>

// The first comma trouble in the first two rows of the start-vector file `path` (the rows a fit
// reads), up to the first item of each row that is neither a number nor holds a comma:
//   "NAME line K: decimal commas are not read: write 1.05"   (an item such as 1,05)
//   "NAME line K: values are separated by blanks or tabs, not commas"   (any other comma)
// NAME is `path` as given. Empty when there is none or the file cannot be read.
std::string startFileCommaProblem(const std::string& path);
