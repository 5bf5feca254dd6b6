# The scripts' build folders, one for each job, so that running the scripts
# one after another never rebuilds what another built differently. Sourced
# from the repository's top folder.

# build/: the program in Release with everything installing and packaging
# take (`cmake --install build`, `cd build && cpack -G DEB`); no tests.
program_build=build
build_program() {
  cmake -S . -B "$program_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPW_BUILD_TESTS=OFF
  cmake --build "$program_build" -j "$(nproc)"
}

# build-tests/: everything with the tests, with debugging information.
test_build=build-tests
build_tests() {
  cmake -S . -B "$test_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_BUILD_TESTS=ON
  cmake --build "$test_build" -j "$(nproc)"
}
