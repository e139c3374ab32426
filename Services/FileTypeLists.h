// The extensions that make up each file-type group, as shipped with the
// application: one ";"-joined, lower-case list per group bit (1 pictures,
// 2 music, 4 movies, 8 archives, 16 documents). Every extension in none of
// them counts as "other".
#pragma once

#include <map>
#include <string>

std::map<int, std::string> GetDefaultFileTypeLists();
