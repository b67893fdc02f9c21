# The two commands of the README are `make run` and `make test`; each installs what is
# missing on a Debian 12 machine, builds and runs.
.PHONY: all deps run test bench fuzz format clean

TEST_DIR := build/test
RUN_DIR := build/release
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 600
CMAKE_GEN := -G Ninja

all: run

deps:
	@scripts/install-deps.sh

run: deps
	cmake -S . -B $(RUN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANKQUILL_TESTS=OFF
	cmake --build $(RUN_DIR)
	scripts/run-program.sh $(RUN_DIR)

test: deps
	cmake -S . -B $(TEST_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBANKQUILL_SANITIZE=ON
	cmake --build $(TEST_DIR)
	scripts/run-tests.sh $(TEST_DIR)

bench: deps
	cmake -S . -B $(RUN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANKQUILL_TESTS=OFF
	cmake --build $(RUN_DIR)
	scripts/run-benchmarks.sh $(RUN_DIR)

fuzz: deps
	cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DBANKQUILL_SANITIZE=ON -DBANKQUILL_FUZZ_ENGINE=ON \
	    -DBANKQUILL_TESTS=OFF
	scripts/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
