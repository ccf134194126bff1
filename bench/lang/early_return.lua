local function f(n) if n > 0 then return n + 1 end return 0 end
for i = 1, 2000000 do f(i) end
