# Entry points; each installs what is missing, builds, then acts.
.PHONY: run test bench peers fuzz dist soak clean
run:
	tools/pellux.sh run
test:
	tools/pellux.sh test
bench:
	tools/pellux.sh bench
peers:
	tools/pellux.sh peers
fuzz:
	tools/pellux.sh fuzz
dist:
	tools/pellux.sh dist
soak:
	tools/pellux.sh soak
clean:
	rm -rf build
