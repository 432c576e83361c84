# The two commands of the README: `make demo` and `make test`. Both install
# what is missing (Debian packages), build, and then run.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release
# -noreset: each test is its own X client; a server that resets whenever the
# last client leaves refuses the next one for a moment.
XVFB = xvfb-run -a -s "-screen 0 1280x1024x24 -noreset"

.PHONY: all deps build test test-asan demo bench clean

all: build

deps:
	@./tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && $(XVFB) ctest --output-on-failure -j$(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOLV_SANITIZE=ON"

# With a display the windows are shown, paced at the speed of the audio; without
# one the run goes to a virtual display and the pictures are saved beside the
# other results.
demo: build
	@if [ -n "$${DISPLAY:-}" ]; then \
	  ./$(BUILD)/kolv run --realtime; \
	else \
	  $(XVFB) ./$(BUILD)/kolv run --snapshots kolv-out/pictures; \
	fi

bench: build
	./tools/bench.sh $(BUILD)

clean:
	rm -rf build build-asan kolv-out
