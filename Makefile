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
#
# `make demo ROOM=0.6`: the demo's talkers in a 6 x 5 x 3 m room with that
# reverberation time (s), rendered into kolv-out/room-0.6/ from the same
# recordings; the default network's results go to kolv-out/room-0.6/kolv-out/
# and kolv-evaluate compares them with the scene's truth.
ROOM ?=
ROOM_DIR = kolv-out/room-$(ROOM)
ifeq ($(ROOM),)
DEMO_RUN = ./$(BUILD)/kolv run
DEMO_PICTURES = kolv-out/pictures
else
DEMO_RUN = ./$(BUILD)/kolv run --set source.FILE=$(CURDIR)/$(ROOM_DIR)/scene.wav --out $(ROOM_DIR)
DEMO_PICTURES = $(ROOM_DIR)/pictures
endif

demo: build
ifneq ($(ROOM),)
	./data/demo/make-demo.sh $(BUILD) --room $(ROOM) $(ROOM_DIR)
endif
	@if [ -n "$${DISPLAY:-}" ]; then \
	  $(DEMO_RUN) --realtime; \
	else \
	  $(XVFB) $(DEMO_RUN) --snapshots $(DEMO_PICTURES); \
	fi
ifneq ($(ROOM),)
	@echo "Against the truth of the scene in the room ($(ROOM_DIR)/truth.json), the first toolbox's nodes:"
	@./$(BUILD)/kolv-evaluate --truth $(ROOM_DIR)/truth.json --block 3 --delay 0 \
	  --sources $(ROOM_DIR)/kolv-out/tracked.csv --speech $(ROOM_DIR)/kolv-out/speech.csv \
	  --enhanced $(ROOM_DIR)/kolv-out/enhanced.wav \
	  --separated $(ROOM_DIR)/kolv-out/separated-1.wav,$(ROOM_DIR)/kolv-out/separated-2.wav
	@echo
	@echo "The same for the second toolbox's nodes (robust localization and tracking, online separation,"
	@echo "adaptive enhancement and voice activity):"
	@./$(BUILD)/kolv-evaluate --truth $(ROOM_DIR)/truth.json --delay 0 \
	  --sources $(ROOM_DIR)/kolv-out/robust-tracked.csv --speech $(ROOM_DIR)/kolv-out/speech-adaptive.csv \
	  --enhanced $(ROOM_DIR)/kolv-out/enhanced-adaptive.wav \
	  --separated $(ROOM_DIR)/kolv-out/online-separated-1.wav,$(ROOM_DIR)/kolv-out/online-separated-2.wav
endif

bench: build
	./tools/bench.sh $(BUILD)

clean:
	rm -rf build build-asan kolv-out
