# The two commands of the README are `make run` and `make test`; each installs what is
# missing on a Debian 12 machine, builds and runs.
.PHONY: all deps run test bench fuzz format clean release install uninstall deb

TEST_DIR := build/test
RUN_DIR := build/release
FUZZ_DIR := build/fuzz
DEB_DIR := build/deb
PREFIX ?= /usr/local
DESTDIR ?=
# The prefix the release build was configured with, which is where it installs.
INSTALLED_PREFIX = "$$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' $(RUN_DIR)/CMakeCache.txt)"
FUZZ_SECONDS ?= 600
CMAKE_GEN := -G Ninja

all: run

deps:
	@scripts/install-deps.sh

run: release
	scripts/run-program.sh $(RUN_DIR)

release: deps
	cmake -S . -B $(RUN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANKQUILL_TESTS=OFF
	cmake --build $(RUN_DIR)

# Into $(DESTDIR)$(PREFIX): bin/, share/ (GNUInstallDirs). The prefix is set when the build is
# configured, since the manual pages name the paths. Without DESTDIR the desktop's caches of
# MIME types, desktop entries and icons are brought up to date, as packages do.
install: deps
	cmake -S . -B $(RUN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANKQUILL_TESTS=OFF \
	    -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(RUN_DIR)
	DESTDIR="$(DESTDIR)" cmake --install $(RUN_DIR)
	@[ -n "$(DESTDIR)" ] || scripts/desktop-caches.sh $(INSTALLED_PREFIX)

# Removes exactly the files that the last `make install` wrote (give the same DESTDIR).
uninstall:
	DESTDIR="$(DESTDIR)" cmake -DMANIFEST=$(RUN_DIR)/install_manifest.txt -P cmake/Uninstall.cmake
	@[ -n "$(DESTDIR)" ] || scripts/desktop-caches.sh $(INSTALLED_PREFIX)

# build/deb/package/bankquill_<version>_<arch>.deb, from a build of its own for /usr with
# Debian's hardening flags.
deb: deps
	cmake -S . -B $(DEB_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANKQUILL_TESTS=OFF \
	    -DBANKQUILL_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr \
	    -DCMAKE_CXX_FLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS) $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)" \
	    -DCMAKE_EXE_LINKER_FLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)"
	cmake --build $(DEB_DIR) --target package

# Every test, then the installation and the package: installed into a temporary DESTDIR and
# checked as a user's system would see them (tests/app/install/).
test: deps
	cmake -S . -B $(TEST_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBANKQUILL_SANITIZE=ON
	cmake --build $(TEST_DIR)
	scripts/run-tests.sh $(TEST_DIR)
	$(MAKE) deb
	tests/app/install/check-install.sh $(DEB_DIR)

bench: release
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
