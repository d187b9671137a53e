# The two commands of the README: `make test` and `make demo`.
# Both install what is missing (Debian packages), configure and build the three trees.
NATIVE := build/native
I386   := build/i386
WIN32  := build/win32
FUZZ   := build/fuzz
FUZZ_SECONDS ?= 7200
ASAN   := build/asan
JOBS   ?= 2
CMAKE_COMMON := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: test demo guide-pictures deps build native native-only i386 win32 clean fuzz fuzz-long \
        install-lv2

deps:
	@scripts/install-deps.sh

win32: deps
	cmake -S . -B $(WIN32) $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	cmake --build $(WIN32) -j $(JOBS)

native: deps win32
	cmake -S . -B $(NATIVE) $(CMAKE_COMMON) -DTARN_WIN32_DLL=$(abspath $(WIN32))/tarn.dll >/dev/null
	cmake --build $(NATIVE) -j $(JOBS)

i386: deps win32
	cmake -S . -B $(I386) $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake -DTARN_WIN32_DLL=$(abspath $(WIN32))/tarn.dll >/dev/null
	cmake --build $(I386) -j $(JOBS)

# ASan+UBSan (float-cast-overflow included, no recovery): the plug-in, the validator and the
# unit tests; its ctest runs the validator at the CI length.
.PHONY: asan
asan: deps
	cmake -S . -B $(ASAN) $(CMAKE_COMMON) -DTARN_SANITIZE=ON >/dev/null
	cmake --build $(ASAN) -j $(JOBS)

build: win32 native i386 asan

# The plug-in and its tools alone, for the demo: no Windows or i386 tree needed.
native-only: deps
	cmake -S . -B $(NATIVE) $(CMAKE_COMMON) >/dev/null
	cmake --build $(NATIVE) -j $(JOBS) --target tarn tarn-render

# The LV2 instrument's bundle, installed where hosts look for it: LV2_INSTALL_DIR if set, else
# $(PREFIX)/lib/lv2 when PREFIX is set, else ~/.lv2; DESTDIR goes in front, for packaging. A
# configured build/native brings its bundle up to date and copies it; without one, a plug-in-only
# tree in build/plugins builds it, needing cmake, g++ and lv2-dev alone.
PLUGINS := build/plugins
ifneq ($(PREFIX),)
LV2_INSTALL_DIR ?= $(PREFIX)/lib/lv2
else
LV2_INSTALL_DIR ?= $(HOME)/.lv2
endif
install-lv2:
	@set -e; \
	if [ -z "$(LV2_INSTALL_DIR)" ]; then echo "install-lv2: LV2_INSTALL_DIR is empty" >&2; exit 1; fi; \
	if [ -f "$(NATIVE)/CMakeCache.txt" ]; then tree="$(NATIVE)"; else \
	    scripts/install-deps.sh cmake g++ lv2-dev; tree="$(PLUGINS)"; \
	    [ -f "$$tree/CMakeCache.txt" ] || \
	        cmake -S . -B "$$tree" -DCMAKE_BUILD_TYPE=Release -DTARN_PLUGINS_ONLY=ON >/dev/null; \
	fi; \
	cmake --build "$$tree" -j $(JOBS) --target tarn_lv2_bundle; \
	dest="$(DESTDIR)$(LV2_INSTALL_DIR)"; \
	mkdir -p "$$dest"; \
	rm -rf "$$dest/tarn.lv2.new"; \
	cp -r "$$tree/lv2/tarn.lv2" "$$dest/tarn.lv2.new"; \
	rm -rf "$$dest/tarn.lv2"; \
	mv "$$dest/tarn.lv2.new" "$$dest/tarn.lv2"; \
	echo "install-lv2: $$dest/tarn.lv2 (urn:tarn:lv2:oscillator)"

demo: native-only
	@mkdir -p out
	$(NATIVE)/tarn-render --demo --spectrogram out/demo-spectrogram.png out/demo.wav
	@echo "demo: out/demo.wav (stereo, 32-bit float) and out/demo-spectrogram.png"

# The libFuzzer targets (clang 14, ASan and UBSan), with their replay and short-run tests.
fuzz: deps
	cmake -S . -B $(FUZZ) $(CMAKE_COMMON) -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DTARN_FUZZ=ON >/dev/null
	cmake --build $(FUZZ) -j $(JOBS)

# FUZZ_SECONDS per target, one at a time; findings land in fuzz/regressions/.
fuzz-long: fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz-long.sh $(FUZZ)

test: build fuzz
	@scripts/run-tests.sh $(NATIVE) $(I386) $(ASAN) $(FUZZ)

clean:
	rm -rf build out

# The user guide's spectrograms in docs/images/, one per patch of docs/patches/.
guide-pictures: native-only
	@for p in docs/patches/*.json; do \
	    $(NATIVE)/tarn-render --quiet --null --max-freq 8000 --spectrogram docs/images/$$(basename $$p .json).png $$p || exit 1; \
	done
	@echo "guide-pictures: docs/images/"

# The release run: tarn-validate --long natively (at least 100 M calls into the module) and the
# ASan+UBSan build at its CI length, each held to its limits by tarn-validate-tally; then every
# fuzz target for FUZZ_SECONDS (two CPU-hours by default).
.PHONY: validate-long
validate-long: deps asan
	cmake -S . -B $(NATIVE) $(CMAKE_COMMON) >/dev/null
	cmake --build $(NATIVE) -j $(JOBS) --target tarn tarn-validate tarn-validate-tally
	$(NATIVE)/tarn-validate-tally --min-calls 100000000 --min-scenarios 13 -- \
	    $(NATIVE)/tarn-validate --long
	$(ASAN)/tarn-validate-tally --min-calls 1000000 --min-scenarios 13 -- $(ASAN)/tarn-validate
	$(MAKE) fuzz-long FUZZ_SECONDS=$(FUZZ_SECONDS)
