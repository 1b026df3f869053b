# Counts the multiples of three among the numbers a cell of 16 bits passes through
# on its way down from 65535 to 0 five hundred times over and writes the low byte
# of the count; the count itself passes 65535 and wraps round many times
++++++++++[>++++++++++++++++++++++++++++++++++++++++++++++++++<-]>
[>-[>+[->+>+<<]>>[-<<+>>]<--->+<[[-]>-<]>[-<<[-]>>>+<]<<<-]<-]
>>>>>.
