# Comments and string lines: a countdown.
# A line that starts with a percent sign prints the rest of the line as it is.
%Countdown:
# Cell 0: a line end (10), printed after the title.
++++++++++.
# Cell 2: the digit 9 (57); cell 3: ten turns; cell 4: a space (32).
>+++++++[>++++++++<-]>+
>++++++++++
>>++++[<++++++++>-]<
# Each turn: the digit, one less, a space.
<[<.->>.<-]
# A line end, and the last line.
<<<.
%Liftoff!
.
