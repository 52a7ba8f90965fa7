// Draws keys from a mask with the installed library: first the mask engine alone, then a
// generator on a table that lives in memory.
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "core/generator.h"
#include "platform/store/memorystore.h"

int main() {
  tgen::TGenMask mask;
  mask.ScanMask("INV-[AB]##");
  mask.SetStartValue("A98");
  mask.NullValue();
  for (int i = 0; i < 3; ++i, mask.Increment())
    std::cout << mask.GetMskValue() << '\n';

  // An alias of tables kept in this process, named in an alias file of its own.
  const char* aliases = "keys-example.aliases";
  std::ofstream(aliases) << "Scratch = memory:example\n";
  setenv("TGEN_ALIASES", aliases, 1);
  tgen::CreateGeneratorTable(*tgen::TMemoryStore::Instance(), "example", "GENTBL.DB");

  tgen::TGenerator orders;
  orders.SetMask("ORD-####");
  orders.SetDataBaseName("Scratch");
  orders.InitDB();
  if (orders.Disabled()) return 1;
  std::cout << orders.Generator() << '\n' << orders.Generator() << '\n';
  return orders.Generator() == "ORD-0002" ? 0 : 1;
}
