# Entry points; each installs what is missing, builds, then acts.
.PHONY: run test bench fuzz dist soak clean
run:
	tools/pellux.sh run
test:
	tools/pellux.sh test
bench:
	tools/pellux.sh bench
fuzz:
	tools/pellux.sh fuzz
dist:
	tools/pellux.sh dist
soak:
	tools/pellux.sh soak
clean:
	rm -rf build
