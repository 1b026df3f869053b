# Copies its input to its output until the input ends.
# At the end of the input a read leaves the cell as it was, so the cell is cleared before
# each read: a read that finds nothing leaves zero, and the loop ends. (So does a zero byte.)
,[.[-],]
