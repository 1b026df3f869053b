# Entry points; each installs what is missing, builds, then acts.
.PHONY: run test bench fuzz clean
run:
	tools/pellux.sh run
test:
	tools/pellux.sh test
bench:
	tools/pellux.sh bench
fuzz:
	tools/pellux.sh fuzz
clean:
	rm -rf build
