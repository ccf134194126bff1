local function f(n) if n > 0 then return n + 1 else return 0 end end
local function main(n)
  local s = 0
  for i = 1, n do s = f(i) % 1000 end
  return s
end
print(main(9000000))
