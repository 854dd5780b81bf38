#pragma once

#include <string>

#include "tools/kqserver/KqDatabase.h"

namespace kqserver {

// Fills the database from a seed document (the demo data, a --seed file, or POST /admin/seed).
// README.md describes the format. Attributes left out keep an existing account's values.
class SeedLoader {
 public:
  static bool Apply(KqDatabase* db, const std::string& xml, std::string* error);
  static const char* DemoSeed();
};

}  // namespace kqserver
