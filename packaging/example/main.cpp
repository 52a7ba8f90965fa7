// Draws keys with the installed library: first the mask engine alone, then a sequence in a
// table that lives in this process's memory.
#include <tgenerator/genmask.h>
#include <tgenerator/keysequence.h>

#include <iostream>

int main() {
  tgen::TGenMask mask;
  mask.ScanMask("INV-[AB]##");
  mask.SetStartValue("A98");
  mask.NullValue();
  for (int i = 0; i < 3; ++i, mask.Increment())
    std::cout << mask.GetMskValue() << '\n';

  tgen::KeySequence orders({.Mask = "ORD-####", .Alias = "memory:example", .CreateTable = true});
  std::cout << orders.Next() << '\n' << orders.Next() << '\n';
  return orders.Next() == "ORD-0002" ? 0 : 1;
}
