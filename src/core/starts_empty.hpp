// Storage for a bound class that always holds a valid object.
#pragma once

#include <cstddef>
#include <new>

namespace kinetra {

// The binding library hands out storage for an instance whose constructor never ran when
// Python calls __new__ without __init__, and methods then read that storage. A class that
// allocates through this starts every object as its empty state, so such an instance behaves
// as an empty object (a moved-from pattern, an empty library) instead of reading garbage.
// The constructor proper then reuses the storage; the empty state owns nothing to release.
template <class T>
void* allocate_empty(std::size_t size) {
    void* storage = ::operator new(size);
    ::new (storage) T(typename T::Empty{});
    return storage;
}

}  // namespace kinetra
