# The two commands of the README: `make test` and `make demo`.
# Both install what is missing (Debian packages), configure and build the three trees.
NATIVE := build/native
I386   := build/i386
WIN32  := build/win32
JOBS   ?= 2
CMAKE_COMMON := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: test demo deps build native i386 win32 clean

deps:
	@scripts/install-deps.sh

win32: deps
	cmake -S . -B $(WIN32) $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	cmake --build $(WIN32) -j $(JOBS)

native: deps win32
	cmake -S . -B $(NATIVE) $(CMAKE_COMMON) -DTARN_WIN32_DLL=$(abspath $(WIN32))/tarn.dll >/dev/null
	cmake --build $(NATIVE) -j $(JOBS)

i386: deps
	cmake -S . -B $(I386) $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake >/dev/null
	cmake --build $(I386) -j $(JOBS)

build: win32 native i386

test: build
	@scripts/run-tests.sh $(NATIVE) $(I386)

clean:
	rm -rf build out
