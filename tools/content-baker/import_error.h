#pragma once
// The one failure of importing a model from outside: what() names the file, the element of
// it that is wrong and how ("Hero.glb: mesh 2 primitive 0: JOINTS_0 names joint 70 of a
// skin with 64 joints").

#include <stdexcept>

namespace kestrune::baker {

class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kestrune::baker
